#include "panel/layout.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// clang-format off
constexpr Control kLayout[] = {
    {"Frame1",        Kind::Frame,   nullptr,  "COM",        240,  240, 2055, 1092,  9.0,  Bold,    12},
    {"Com1",          Kind::Option,  "Frame1", "COM1",       120,  240,  855,  255,  8.25, Bold,    13},
    {"Com2",          Kind::Option,  "Frame1", "COM2",       120,  480,  855,  255,  8.25, Bold,    14},
    {"Com3",          Kind::Option,  "Frame1", "COM3",       120,  720,  855,  255,  8.25, Bold,    15},
    {"Com4",          Kind::Option,  "Frame1", "COM4",      1080,  240,  855,  255,  8.25, Bold,    16},
    {"Com5",          Kind::Option,  "Frame1", "COM5",      1080,  480,  855,  255,  8.25, Bold,    17},
    {"Frame2",        Kind::Frame,   nullptr,  "Speed",     2520,  240, 1695, 1095,  9.0,  Bold,     6},
    {"SD384",         Kind::Option,  "Frame2", "38400bps",   240,  240, 1335,  255,  9.0,  Bold,    19},
    {"SPD192",        Kind::Option,  "Frame2", "19200bps",   240,  480, 1335,  255,  9.0,  Bold,    11},
    {"SPD96",         Kind::Option,  "Frame2", "9600bps",    240,  720, 1215,  255,  9.0,  Bold,    18},
    {"Frame3",        Kind::Frame,   nullptr,  "Parity",    4440,  240, 1695, 1092,  9.0,  Bold,     7},
    {"None1",         Kind::Option,  "Frame3", "NONE",       240,  240,  975,  195,  9.0,  Bold,     8},
    {"Odd1",          Kind::Option,  "Frame3", "ODD",        240,  480,  855,  255,  9.0,  Bold,     9},
    {"Even1",         Kind::Option,  "Frame3", "EVEN",       240,  780,  855,  195,  9.0,  Bold,    10},
    {"Label1_2",      Kind::Header,  nullptr,  "Read",       240, 1560, 1575,  255,  9.0,  Bold,    26},
    {"Label4_0",      Kind::Label,   nullptr,  "ST No.",     240, 2040,  576,  216,  9.0,  Bold,     4},
    {"Label1_0",      Kind::Label,   nullptr,  "Address",   1200, 2040,  696,  216,  9.0,  Bold,     1},
    {"Label2_0",      Kind::Label,   nullptr,  "Data",      3000, 2040,  384,  216,  9.0,  Bold,     2},
    {"TX1",           Kind::Button,  nullptr,  "Read Data", 5160, 2040, 1335,  855, 11.25, Regular,  3},
    {"Stno1_0",       Kind::TextBox, nullptr,  "1",          240, 2400,  615,  375, 11.25, Regular,  5},
    {"Address_0",     Kind::TextBox, nullptr,  "30002",     1080, 2400, 1575,  375, 11.25, Regular,  0},
    {"Rx_data",       Kind::Result,  nullptr,  "",          2880, 2400, 2055,  375, 11.25, Bold,    20},
    // A line from (120, 3120) to (6600, 3120), kLineThickness pixels thick.
    {"Line1",         Kind::Line,    nullptr,  "",           120, 3120, 6480,    0,  0.0,  0,    NoTab},
    {"Label1_3",      Kind::Header,  nullptr,  "Write",      240, 3240, 1575,  255,  9.0,  Bold,    27},
    {"Label4_1",      Kind::Label,   nullptr,  "ST No.",     240, 3720,  576,  216,  9.0,  Bold,    24},
    {"Label1_1",      Kind::Label,   nullptr,  "Address",   1200, 3720,  696,  216,  9.0,  Bold,    25},
    {"Label2_1",      Kind::Label,   nullptr,  "Data",      3000, 3720,  384,  216,  9.0,  Bold,    29},
    {"Write_command", Kind::Button,  nullptr,  "Write Data",5160, 3720, 1335,  855, 11.25, Regular, 22},
    {"Stno1_1",       Kind::TextBox, nullptr,  "1",          240, 4080,  615,  375, 11.25, Regular, 23},
    {"Address_1",     Kind::TextBox, nullptr,  "41001",     1080, 4080, 1575,  375, 11.25, Regular, 21},
    {"Write_data",    Kind::TextBox, nullptr,  "0",         2880, 4080, 2055,  375, 11.25, Regular, 28},
};
// clang-format on

constexpr std::pair<std::string_view, const char*> kAccessibleNames[] = {
    {"Stno1_0", "Read station"},    {"Address_0", "Read address"}, {"Stno1_1", "Write station"},
    {"Address_1", "Write address"}, {"Write_data", "Write value"},
};

bool TakesFocus(Kind kind)
{
    return kind == Kind::Option || kind == Kind::Button || kind == Kind::TextBox;
}

} // namespace

std::span<const Control> Layout()
{
    return kLayout;
}

int ControlIndex(std::string_view name)
{
    for (std::size_t i = 0; i < std::size(kLayout); ++i)
        if (name == kLayout[i].name)
            return static_cast<int>(i);
    return -1;
}

const Control* FindControl(std::string_view name)
{
    const int i = ControlIndex(name);
    return i < 0 ? nullptr : &kLayout[i];
}

int Px(int twips, int dpi)
{
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

PixelRect PixelPlace(const Control& c, int dpi)
{
    if (c.kind == Kind::Line)
        return {Px(c.left, dpi), Px(c.top, dpi) - kLineThickness / 2, Px(c.width, dpi),
                kLineThickness};
    return {Px(c.left, dpi), Px(c.top, dpi), Px(c.width, dpi), Px(c.height, dpi)};
}

std::vector<const Control*> TabOrder()
{
    std::vector<const Control*> order;
    for (const Control& c : kLayout)
        if (TakesFocus(c.kind))
            order.push_back(&c);
    std::stable_sort(order.begin(), order.end(),
                     [](const Control* a, const Control* b) { return a->tab < b->tab; });
    return order;
}

const char* AccessibleName(std::string_view name)
{
    for (const auto& [control, accessible] : kAccessibleNames)
        if (control == name)
            return accessible;
    return nullptr;
}
