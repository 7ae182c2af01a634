#include "main_window.h"

#include "panel/layout.h"
#include "panel/option_groups.h"
#include "qt_wait.h"
#include "serial/device.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Pixels at 96 dots per inch; on a denser screen Qt's device pixel ratio scales them further.
QRect Geometry(const Control& c)
{
    const PixelRect r = PixelPlace(c);
    return QRect(r.x, r.y, r.width, r.height);
}

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

// The header bands look like an active title bar.
void PaintAsHeader(QLabel* label)
{
    QPalette palette = label->palette();
    // Qt has no title-bar colour of its own; the selection's colours are the nearest.
    palette.setColor(QPalette::Window, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::WindowText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    label->setPalette(palette);
    label->setAutoFillBackground(true);
    label->setIndent(Px(60));
}

// Qt's own styles put a group box's caption above its border, where the table's options sit; on
// Windows the border runs through the caption's middle, and the options lie below it. Windows'
// option circle is 13 pixels, which None1 and Even1 (13 pixels high) need; Qt's is 14.
void DrawAsWindowsFrame(QGroupBox* box)
{
    box->setStyleSheet(QString("QGroupBox { border: 1px solid palette(mid); margin-top: %1px; }"
                               "QGroupBox::title { subcontrol-origin: margin; left: 6px;"
                               " padding: 0 2px; }"
                               "QRadioButton::indicator { width: 13px; height: 13px; }")
                           .arg(box->fontMetrics().height() / 2));
}

// Liberation Sans, Arial's stand-in, draws "Address" two pixels wider than its table width. The
// label grows to the right, into the free space before "Data", rather than clip its text.
void RoomForText(QLabel* label)
{
    const QMargins m = label->contentsMargins();
    const int text =
        static_cast<int>(std::ceil(QFontMetricsF(label->font()).horizontalAdvance(label->text())));
    label->resize(std::max(label->width(), text + m.left() + m.right()), label->height());
}

QString Name(std::string_view name)
{
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent), m_commands(*this, m_port, QtWaitServices())
{
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    // A fixed size: no maximise button, which would do nothing.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(Px(kClientWidth), Px(kClientHeight));
    BuildControls();

    for (const Control& c : Layout()) {
        if (c.kind != Kind::Option)
            continue;
        const std::string_view clicked = c.name;
        connect(Option(clicked), &QRadioButton::clicked, this, [this, clicked] {
            ClickOption(clicked, [this](std::string_view member, bool on) {
                Option(member)->setChecked(on);
            });
        });
    }
    for (const std::string_view selected : StartSelection())
        Option(selected)->setChecked(true);

    connect(m_tx1, &QPushButton::clicked, this,
            [this] { m_commands.Click(Row::Read); });
    connect(m_writeCommand, &QPushButton::clicked, this,
            [this] { m_commands.Click(Row::Write); });

    Field("Address", Row::Read)->setFocus();
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildControls()
{
    for (const Control& c : Layout()) {
        QWidget* parent =
            c.frame ? findChild<QGroupBox*>(QLatin1String(c.frame)) : static_cast<QWidget*>(this);
        QWidget* w = CreateControl(c, parent);
        w->setObjectName(QLatin1String(c.name));
        w->setGeometry(Geometry(c));
        if (c.kind != Kind::Line)
            w->setFont(ControlFont(c));
        if (c.kind == Kind::Label)
            RoomForText(static_cast<QLabel*>(w));
        if (const char* accessible = AccessibleName(c.name))
            w->setAccessibleName(QLatin1String(accessible));
    }
    // Each option group sits in its own frame, so Qt's own exclusivity never crosses groups.
    const std::vector<const Control*> tabOrder = TabOrder();
    for (std::size_t i = 1; i < tabOrder.size(); ++i)
        setTabOrder(findChild<QWidget*>(QLatin1String(tabOrder[i - 1]->name)),
                    findChild<QWidget*>(QLatin1String(tabOrder[i]->name)));

    const auto child = [this]<typename T>(T*& member, const QString& name) {
        member = findChild<T*>(name);
        Q_ASSERT(member);
    };
    child(m_writeData, QStringLiteral("Write_data"));
    child(m_rxData, QStringLiteral("Rx_data"));
    child(m_tx1, QStringLiteral("TX1"));
    child(m_writeCommand, QStringLiteral("Write_command"));
    // Text boxes take texts of any length.
    for (QLineEdit* box : findChildren<QLineEdit*>())
        box->setMaxLength(std::numeric_limits<int>::max());
    for (const std::string_view port : OptionGroups()[0]) {
        Option(port)->installEventFilter(this);
        QEvent enter(QEvent::Enter);
        eventFilter(Option(port), &enter); // the accessible description from the start
    }

    // Enter and Escape start nothing; only a click or the space bar on a button does.
    for (QPushButton* button : {m_tx1, m_writeCommand}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    for (QGroupBox* box : findChildren<QGroupBox*>())
        DrawAsWindowsFrame(box);
    for (const char* header : {"Label1_2", "Label1_3"})
        PaintAsHeader(findChild<QLabel*>(QLatin1String(header)));
    // The result keeps its label text as its accessible name, so a screen reader announces the
    // value itself; the tooltip with the line detail becomes its description.
    m_rxData->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_rxData->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QFrame* line = findChild<QFrame*>(QStringLiteral("Line1"));
    line->setFrameStyle(QFrame::HLine | QFrame::Plain);
    line->setLineWidth(kLineThickness);
}

QRadioButton* MainWindow::Option(std::string_view name) const
{
    return findChild<QRadioButton*>(Name(name));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing is not held up by a waiting command: it is given up with its port closed.
    m_commands.WindowClosing();
    event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    const int portNo = PortOfOption(watched->objectName().toStdString());
    const QEvent::Type type = event->type();
    if (portNo == 0 ||
        (type != QEvent::ToolTip && type != QEvent::FocusIn && type != QEvent::Enter))
        return QWidget::eventFilter(watched, event);
    // Looked up as the tooltip opens, and as a screen reader comes to the option: adapters come
    // and go while the window is open.
    const bool present = QFileInfo::exists(QString::fromStdString(DeviceForPort(portNo).path));
    const QString text = QString::fromStdString(PortTooltip(portNo, present));
    auto* option = static_cast<QWidget*>(watched);
    option->setAccessibleDescription(text);
    if (type != QEvent::ToolTip)
        return QWidget::eventFilter(watched, event);
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text, option);
    return true;
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event)
{
    // A right-click on the result, or the context-menu key on a control with no menu of its own
    // (the text boxes have theirs), offers the detail of the last command for a report.
    const bool onResult = m_rxData->geometry().contains(event->pos());
    if (event->reason() != QContextMenuEvent::Keyboard && !onResult)
        return QWidget::contextMenuEvent(event);
    // Not exec(): a loop of its own would hold up a command's wait until the menu closes.
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* copy = menu->addAction(QStringLiteral("Copy details"));
    copy->setEnabled(!m_rxData->toolTip().isEmpty());
    connect(copy, &QAction::triggered, this,
            [this] { QGuiApplication::clipboard()->setText(m_rxData->toolTip()); });
    menu->popup(onResult ? event->globalPos()
                         : m_rxData->mapToGlobal(m_rxData->rect().bottomLeft()));
}

QPushButton* MainWindow::CommandButton(Row row) const
{
    return row == Row::Read ? m_tx1 : m_writeCommand;
}

// The row's member of an indexed family, Stno1 or Address: Stno1_0 on the read row.
QLineEdit* MainWindow::Field(const char* family, Row row) const
{
    return findChild<QLineEdit*>(QString("%1_%2").arg(family).arg(row == Row::Read ? 0 : 1));
}

Selectors MainWindow::SelectorState() const
{
    return SelectorsFrom([this](std::string_view option) { return Option(option)->isChecked(); });
}

std::string MainWindow::StationText(Row row) const
{
    return Field("Stno1", row)->text().toStdString();
}

void MainWindow::SetStationText(Row row, const std::string& text)
{
    Field("Stno1", row)->setText(QString::fromStdString(text));
}

std::string MainWindow::AddressText(Row row) const
{
    return Field("Address", row)->text().toStdString();
}

std::string MainWindow::WriteDataText() const
{
    return m_writeData->text().toStdString();
}

std::string MainWindow::RxDataText() const
{
    return m_rxData->text().toStdString();
}

void MainWindow::SetRxData(const std::string& text)
{
    m_rxData->setText(QString::fromStdString(text));
}

void MainWindow::SetRxDetail(const std::string& detail)
{
    m_rxData->setToolTip(QString::fromStdString(detail));
}

void MainWindow::SetCommandEnabled(Row row, bool enabled)
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
