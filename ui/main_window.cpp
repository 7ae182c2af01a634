#include "main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace {

enum class Kind { Frame, Option, Label, Header, Result, Button, TextBox, Line };

constexpr int Bold = 700;
constexpr int Regular = 400;
constexpr int NoTab = -1;

// One control of the panel. Positions and sizes are in twips (1/1440 inch), relative to the
// top-left corner of the frame the control sits in, or of the window's client area.
struct Control
{
    const char* name; // object name; members of an indexed family end in _<index>
    Kind kind;
    const char* frame; // nullptr: the window
    const char* text;
    int left, top, width, height;
    double points;
    int weight;
    int tab;
};

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
    // A line from (120, 3120) to (6600, 3120); its thickness is in pixels, not twips.
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

constexpr int kClientWidth = 6720; // twips
constexpr int kClientHeight = 4740;
constexpr int kLineThickness = 3; // pixels

// The one conversion from twips: 1440 to the inch, 96 pixels to the inch. On a denser screen
// Qt's device pixel ratio scales the pixels further.
int Px(int twips)
{
    return static_cast<int>(std::lround(twips / 15.0));
}

// The screen readers' names of the text boxes, which have no caption of their own.
constexpr std::pair<const char*, const char*> kTextBoxNames[] = {
    {"Stno1_0", "Read station"},    {"Address_0", "Read address"}, {"Stno1_1", "Write station"},
    {"Address_1", "Write address"}, {"Write_data", "Write value"},
};

QFont ControlFont(const Control& c)
{
    // Qt chooses faces by writing system, not by character set; every text here is plain
    // Latin, which any Arial (or its metric twin Liberation Sans) covers.
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(c.points);
    font.setWeight(static_cast<QFont::Weight>(c.weight));
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

QWidget* CreateControl(const Control& c, QWidget* parent)
{
    const QString text = QString::fromLatin1(c.text);
    switch (c.kind) {
    case Kind::Frame:
        return new QGroupBox(text, parent);
    case Kind::Option:
        return new QRadioButton(text, parent);
    case Kind::Label:
    case Kind::Header:
    case Kind::Result:
        return new QLabel(text, parent);
    case Kind::Button:
        return new QPushButton(text, parent);
    case Kind::TextBox:
        return new QLineEdit(text, parent);
    case Kind::Line:
        return new QFrame(parent);
    }
    return nullptr;
}

QRect Geometry(const Control& c)
{
    if (c.kind == Kind::Line)
        return QRect(Px(c.left), Px(c.top) - kLineThickness / 2, Px(c.width), kLineThickness);
    return QRect(Px(c.left), Px(c.top), Px(c.width), Px(c.height));
}

bool TakesFocus(Kind kind)
{
    return kind == Kind::Option || kind == Kind::Button || kind == Kind::TextBox;
}

// The header bands look like an active title bar.
void PaintAsHeader(QLabel* label)
{
    QPalette palette = label->palette();
#ifdef Q_OS_WIN
    const auto system = [](int index) {
        const COLORREF c = GetSysColor(index);
        return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
    };
    palette.setColor(QPalette::Window, system(COLOR_ACTIVECAPTION));
    palette.setColor(QPalette::WindowText, system(COLOR_CAPTIONTEXT));
#else
    palette.setColor(QPalette::Window, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::WindowText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
#endif
    label->setPalette(palette);
    label->setAutoFillBackground(true);
    label->setIndent(Px(60));
}

} // namespace

Main::Main(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("VEK Sample program"));
    setFixedSize(Px(kClientWidth), Px(kClientHeight));
    BuildControls();

    WireOptionGroup(m_portGroup);
    WireOptionGroup(m_speedGroup);
    WireOptionGroup(m_parityGroup);
    m_portGroup[0]->setChecked(true);
    m_speedGroup[1]->setChecked(true);
    m_parityGroup[0]->setChecked(true);

    connect(m_tx1, &QPushButton::clicked, this, [this] { Run(Command::Read); });
    connect(m_writeCommand, &QPushButton::clicked, this, [this] { Run(Command::Write); });

    m_address[0]->setFocus();
}

Main::~Main() = default;

void Main::BuildControls()
{
    std::vector<std::pair<int, QWidget*>> tabOrder;
    for (const Control& c : kLayout) {
        QWidget* parent =
            c.frame ? findChild<QGroupBox*>(QLatin1String(c.frame)) : static_cast<QWidget*>(this);
        QWidget* w = CreateControl(c, parent);
        w->setObjectName(QLatin1String(c.name));
        w->setGeometry(Geometry(c));
        if (c.kind != Kind::Line)
            w->setFont(ControlFont(c));
        if (TakesFocus(c.kind))
            tabOrder.emplace_back(c.tab, w);
    }
    std::stable_sort(tabOrder.begin(), tabOrder.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1].second, tabOrder[i].second);

    const auto child = [this]<typename T>(T*& member, const QString& name) {
        member = findChild<T*>(name);
        Q_ASSERT(member);
    };
    for (const char* name : {"Com1", "Com2", "Com3", "Com4", "Com5"})
        child(m_portGroup.emplace_back(), QLatin1String(name));
    for (const char* name : {"SD384", "SPD192", "SPD96"})
        child(m_speedGroup.emplace_back(), QLatin1String(name));
    for (const char* name : {"None1", "Odd1", "Even1"})
        child(m_parityGroup.emplace_back(), QLatin1String(name));
    for (int i = 0; i < 2; ++i) {
        child(m_stno1[i], QString("Stno1_%1").arg(i));
        child(m_address[i], QString("Address_%1").arg(i));
        child(m_label2[i], QString("Label2_%1").arg(i));
        child(m_label4[i], QString("Label4_%1").arg(i));
    }
    for (int i = 0; i < 4; ++i)
        child(m_label1[i], QString("Label1_%1").arg(i));
    child(m_writeData, QStringLiteral("Write_data"));
    child(m_rxData, QStringLiteral("Rx_data"));
    child(m_tx1, QStringLiteral("TX1"));
    child(m_writeCommand, QStringLiteral("Write_command"));

    for (const auto& [name, accessible] : kTextBoxNames) {
        QLineEdit* box = findChild<QLineEdit*>(QLatin1String(name));
        box->setAccessibleName(QLatin1String(accessible));
        box->setMaxLength(std::numeric_limits<int>::max());
    }
    // Enter and Escape start nothing; only a click or the space bar on a button does.
    for (QPushButton* button : {m_tx1, m_writeCommand}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    PaintAsHeader(m_label1[2]);
    PaintAsHeader(m_label1[3]);
    // The result keeps its label text as its accessible name, so a screen reader announces the
    // value itself; the tooltip with the line detail becomes its description.
    m_rxData->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_rxData->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QFrame* line = findChild<QFrame*>(QStringLiteral("Line1"));
    line->setFrameStyle(QFrame::HLine | QFrame::Plain);
    line->setLineWidth(kLineThickness);
}

void Main::WireOptionGroup(const std::vector<QRadioButton*>& group)
{
    // Each group lives in its own frame, so Qt's own exclusivity never crosses groups; the
    // click sets the whole group, in its order, all the same.
    for (QRadioButton* clicked : group)
        connect(clicked, &QRadioButton::clicked, this, [group, clicked] {
            for (QRadioButton* member : group)
                member->setChecked(member == clicked);
        });
}

// A command runs inside its button's click, but its 0.2 s wait lets window events in, and with
// them a click on the other button. That click waits its turn: it runs right after the running
// command, so the port is never opened twice, and only one command can be waiting.
void Main::Run(Command command)
{
    if (m_running != Command::None) {
        if (command != m_running && m_pending == Command::None)
            m_pending = command;
        return;
    }
    for (Command next = command; next != Command::None && !m_abandoned;
         next = std::exchange(m_pending, Command::None)) {
        m_running = next;
        Line line{m_port, RealWaitServices([this] { return m_abandoned; })};
        if (next == Command::Read)
            ReadTransaction(*this, line, m_values);
        else
            WriteTransaction(*this, line, m_values);
        m_running = Command::None;
    }
    m_pending = Command::None;
    m_abandoned = false;
}

void Main::closeEvent(QCloseEvent* event)
{
    // Closing is not held up by a waiting command: its port closes now, its wait ends at the
    // next look, and it goes home without touching the line or the labels again.
    if (m_running != Command::None) {
        m_abandoned = true;
        m_pending = Command::None;
        m_port.Close();
    }
    event->accept();
}

QPushButton* Main::CommandButton(int row) const
{
    return row == 0 ? m_tx1 : m_writeCommand;
}

Selectors Main::SelectorState() const
{
    Selectors s;
    s.Com2 = m_portGroup[1]->isChecked();
    s.Com3 = m_portGroup[2]->isChecked();
    s.Com4 = m_portGroup[3]->isChecked();
    s.Com5 = m_portGroup[4]->isChecked();
    s.SPD192 = m_speedGroup[1]->isChecked();
    s.SPD96 = m_speedGroup[2]->isChecked();
    s.Odd1 = m_parityGroup[1]->isChecked();
    s.Even1 = m_parityGroup[2]->isChecked();
    return s;
}

std::string Main::StationText(int row) const
{
    return m_stno1[row]->text().toStdString();
}

void Main::SetStationText(int row, const std::string& text)
{
    m_stno1[row]->setText(QString::fromStdString(text));
}

std::string Main::AddressText(int row) const
{
    return m_address[row]->text().toStdString();
}

std::string Main::WriteDataText() const
{
    return m_writeData->text().toStdString();
}

void Main::SetRxData(const std::string& text)
{
    m_rxData->setText(QString::fromStdString(text));
}

void Main::SetRxDetail(const std::string& detail)
{
    m_rxData->setToolTip(QString::fromStdString(detail));
}

void Main::SetCommandEnabled(int row, bool enabled)
{
    QPushButton* button = CommandButton(row);
    const bool hadFocus = button->hasFocus();
    button->setEnabled(enabled);
    // Qt passes the focus of a greyed button on to the next control. It comes back when the
    // command ends, so that the space bar repeats the command, unless the operator moved it.
    if (!enabled) {
        m_focusMovedTo = hadFocus ? QApplication::focusWidget() : nullptr;
    } else if (m_focusMovedTo && m_focusMovedTo == QApplication::focusWidget()) {
        button->setFocus();
        m_focusMovedTo = nullptr;
    }
}
