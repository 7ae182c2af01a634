#pragma once

#include <span>
#include <string_view>
#include <vector>

// The operator's panel as drawn: every control with its place in twips (1/1440 inch), its font
// and its tab index. Both front-ends build their window from this one table.
enum class Kind { Frame, Option, Label, Header, Result, Button, TextBox, Line };

constexpr int Bold = 700;
constexpr int Regular = 400;
constexpr int NoTab = -1;

// Positions and sizes are relative to the top-left corner of the frame the control sits in, or
// of the window's client area.
struct Control
{
    const char* name; // members of an indexed family end in _<index>, as Stno1_0
    Kind kind;
    const char* frame; // nullptr: the window
    const char* text;  // caption or initial text
    int left, top, width, height;
    double points; // Arial, ANSI character set, never italic, underlined or struck out
    int weight;
    int tab;
};

constexpr const char* kWindowTitle = "VEK Sample program";
constexpr int kClientWidth = 6720; // twips
constexpr int kClientHeight = 4740;
constexpr int kLineThickness = 3; // pixels, not twips

std::span<const Control> Layout();
// The control of that name, or nullptr.
const Control* FindControl(std::string_view name);
// Its position in the table, or -1: a stable number for the control (the Win32 control id).
int ControlIndex(std::string_view name);

// Twips to pixels at the screen's dots per inch (15 twips to the pixel at 96).
int Px(int twips, int dpi = 96);

// Where a control goes in pixels, relative to its frame or the client area. The line is
// kLineThickness pixels high, centred on its y.
struct PixelRect
{
    int x, y, width, height;
};
PixelRect PixelPlace(const Control& c, int dpi = 96);

// The controls that take the keyboard focus, by ascending tab index.
std::vector<const Control*> TabOrder();

// What a screen reader calls a text box, which has no caption of its own; nullptr for others.
const char* AccessibleName(std::string_view name);
