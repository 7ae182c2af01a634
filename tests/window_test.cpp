// The window on Qt's offscreen platform: layout, fonts, option groups, keyboard, and both commands
// driven through the real window and the real serial port against the libmodbus demo slave.
#include "device_server.h"
#include "fake_port.h"
#include "main_window.h"
#include "panel/layout.h"
#include "serial/device.h"
#include "pty_peer.h"
#include "slave_process.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOption>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

template <typename T = QWidget> T* Find(const QWidget& window, const char* name)
{
    T* w = window.findChild<T*>(QLatin1String(name));
    if (!w)
        ADD_FAILURE() << "no control " << name;
    return w;
}

QString Text(const QWidget& window, const char* name)
{
    if (auto* edit = window.findChild<QLineEdit*>(QLatin1String(name)))
        return edit->text();
    if (auto* label = window.findChild<QLabel*>(QLatin1String(name)))
        return label->text();
    ADD_FAILURE() << "no text control " << name;
    return {};
}

void SetText(const QWidget& window, const char* name, const char* text)
{
    Find<QLineEdit>(window, name)->setText(QString::fromLatin1(text));
}

// The option groups, each in its own order.
const std::vector<std::vector<const char*>> kGroups = {
    {"Com1", "Com2", "Com3", "Com4", "Com5"},
    {"SD384", "SPD192", "SPD96"},
    {"None1", "Odd1", "Even1"},
};

// The selected member of each group, or "?" when not exactly one is on.
std::vector<std::string> Selected(const QWidget& window)
{
    std::vector<std::string> result;
    for (const auto& group : kGroups) {
        std::string on = "?";
        int count = 0;
        for (const char* name : group)
            if (Find<QRadioButton>(window, name)->isChecked()) {
                on = name;
                ++count;
            }
        result.push_back(count == 1 ? on : "?");
    }
    return result;
}

struct Shown
{
    MainWindow window;
    Shown()
    {
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
};

TEST(Window, StartsWithTheDesignedValues)
{
    Shown s;
    const MainWindow& w = s.window;
    EXPECT_EQ(w.windowTitle(), "VEK Sample program");
    EXPECT_EQ(w.size(), QSize(448, 316));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    // A window manager draws a maximise button, doing nothing at a fixed size, unless told not to.
    const auto buttons = Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    EXPECT_EQ(w.windowFlags() & (buttons | Qt::WindowMaximizeButtonHint), buttons);
    EXPECT_EQ(Selected(w), (std::vector<std::string>{"Com1", "SPD192", "None1"}));
    const std::map<const char*, const char*> texts = {
        {"Stno1_0", "1"}, {"Address_0", "30002"}, {"Rx_data", ""},
        {"Stno1_1", "1"}, {"Address_1", "41001"}, {"Write_data", "0"},
    };
    for (const auto& [name, text] : texts)
        EXPECT_EQ(Text(w, name), text) << name;
    EXPECT_TRUE(Find(w, "TX1")->isEnabled());
    EXPECT_TRUE(Find(w, "Write_command")->isEnabled());
    EXPECT_FALSE(w.Port().IsOpen());
    EXPECT_EQ(QApplication::focusWidget(), Find(w, "Address_0"));
}

TEST(Window, EveryControlHasThePlaceAndFontOfTheLayoutTable)
{
    MainWindow w;
    for (const Control& c : Layout()) {
        QWidget* widget = Find(w, c.name);
        ASSERT_TRUE(widget);
        EXPECT_EQ(widget->parentWidget()->objectName(), c.frame ? c.frame : "") << c.name;
        const PixelRect r = PixelPlace(c);
        QRect drawn = widget->geometry();
        if (qobject_cast<QLabel*>(widget)) // a caption may take room to its right to fit its text
            drawn.setWidth(std::min(drawn.width(), r.width));
        EXPECT_EQ(drawn, QRect(r.x, r.y, r.width, r.height)) << c.name;
        EXPECT_TRUE(w.rect().contains(widget->mapTo(&w, widget->rect().bottomRight()))) << c.name;
        if (c.kind == Kind::Line)
            continue;
        const QFont f = widget->font();
        EXPECT_EQ(f.family(), "Arial") << c.name;
        EXPECT_DOUBLE_EQ(f.pointSizeF(), c.points) << c.name;
        EXPECT_EQ(f.weight(), c.weight) << c.name;
        EXPECT_FALSE(f.italic() || f.underline() || f.strikeOut()) << c.name;
    }
}

TEST(Window, TwipsRoundAndNoControlCoversAnother)
{
    // 1092 twips are 72.8 pixels at 96 dpi, 6 twips 0.5 at 120: both round up.
    EXPECT_EQ(Px(1092), 73);
    EXPECT_EQ(Px(6, 120), 1);
    MainWindow w;
    // Options 255 twips high on a 240-twip pitch share their blank edge row, as on Windows.
    const auto drawn = [](const QWidget* c) { return c->geometry().adjusted(0, 0, 0, -1); };
    const QList<QWidget*> all = w.findChildren<QWidget*>();
    for (qsizetype i = 0; i < all.size(); ++i)
        for (qsizetype j = i + 1; j < all.size(); ++j)
            EXPECT_TRUE(all[i]->parentWidget() != all[j]->parentWidget() ||
                        !drawn(all[i]).intersects(drawn(all[j])))
                << qPrintable(all[i]->objectName()) << " overlaps "
                << qPrintable(all[j]->objectName());
    // The line between the rows has its middle row where the table puts it.
    EXPECT_EQ(Find(w, "Line1")->geometry().center().y(), Px(FindControl("Line1")->top));
}

// Runs again at QT_SCALE_FACTOR 1.5 and 2 (tests/CMakeLists.txt).
TEST(Window, CaptionsFitAndOptionsClearTheirFrame)
{
    Shown s;
    const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
    EXPECT_DOUBLE_EQ(s.window.devicePixelRatioF(), scale.isEmpty() ? 1.0 : scale.toDouble());
    // Text fits when its advance fits across and its ink fits down.
    const auto fits = [](const QWidget* w, const QString& text, const QRect& room) {
        const QFontMetricsF fm(w->font());
        EXPECT_LE(fm.horizontalAdvance(text), room.width()) << qPrintable(w->objectName());
        EXPECT_LE(fm.tightBoundingRect(text).height(), room.height())
            << qPrintable(w->objectName());
    };
    for (QLabel* label : s.window.findChildren<QLabel*>()) {
        fits(label, label->text(),
             label->contentsRect().adjusted(std::max(label->indent(), 0), 0, 0, 0));
        for (const QWidget* other :
             label->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            EXPECT_TRUE(other == label || !label->geometry().intersects(other->geometry()))
                << qPrintable(label->objectName()) << " overlaps "
                << qPrintable(other->objectName());
        }
    }
    for (QGroupBox* box : s.window.findChildren<QGroupBox*>()) {
        QStyleOptionGroupBox frame;
        frame.initFrom(box);
        frame.text = box->title();
        frame.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const auto rect = [&](const QStyle* style, QStyle::SubControl part) {
            return style->subControlRect(QStyle::CC_GroupBox, &frame, part, box);
        };
        const QRect border = rect(box->style(), QStyle::SC_GroupBoxFrame);
        // Qt centres the caption in the style sheet's title rect grown to the base style's.
        QRect caption = rect(box->style(), QStyle::SC_GroupBoxLabel);
        caption.setSize(caption.size().expandedTo(
            rect(QApplication::style(), QStyle::SC_GroupBoxLabel).size()));
        fits(box, box->title(), caption);
        EXPECT_NEAR(caption.center().y(), border.top(), 1) << "the border runs through the caption";
        for (QRadioButton* option : box->findChildren<QRadioButton*>()) {
            QStyleOptionButton button;
            button.initFrom(option);
            button.text = option->text();
            const auto part = [&](QStyle::SubElement e) {
                return option->style()->subElementRect(e, &button, option);
            };
            EXPECT_TRUE(border.adjusted(2, 2, -2, -2).contains(option->geometry()) &&
                        option->rect().contains(part(QStyle::SE_RadioButtonIndicator)))
                << qPrintable(option->objectName());
            fits(option, option->text(), part(QStyle::SE_RadioButtonContents));
        }
    }
}

TEST(Window, ComOptionsNameTheirDeviceWhenTheTooltipOpens)
{
    Shown s;
    QRadioButton* com2 = Find<QRadioButton>(s.window, "Com2");
    const auto tooltip = [com2] {
        QHelpEvent help(QEvent::ToolTip, QPoint(4, 4), com2->mapToGlobal(QPoint(4, 4)));
        QApplication::sendEvent(com2, &help);
        return QToolTip::text();
    };
    QTemporaryFile device;
    ASSERT_TRUE(device.open());
    const QString path = device.fileName();
    qputenv("VEK_COM2", path.toLocal8Bit());
    EXPECT_EQ(tooltip(), "COM2: " + path + " (from VEK_COM2)");
    device.remove();
    // A screen reader hears the same when it comes to the option.
    com2->setFocus();
    EXPECT_EQ(com2->accessibleDescription(), "COM2: " + path + " (from VEK_COM2) (no such device)");
    EXPECT_EQ(tooltip(), "COM2: " + path + " (from VEK_COM2) (no such device)");
    // Whether a device server is there, only a connection tells.
    qputenv("VEK_COM2", "tcp://gw:4001");
    EXPECT_EQ(tooltip(), "COM2: tcp://gw:4001 (from VEK_COM2)");
    qunsetenv("VEK_COM2");
}

TEST(Window, OptionClicksSetTheirOwnGroupOnly)
{
    struct Case
    {
        std::vector<const char*> clicks;
        std::vector<std::string> selected;
    } cases[] = {
        {{"Com3"}, {"Com3", "SPD192", "None1"}},
        {{"Com1"}, {"Com1", "SPD192", "None1"}},
        {{"Com5", "Com5"}, {"Com5", "SPD192", "None1"}},
        {{"SD384", "Even1"}, {"Com1", "SD384", "Even1"}},
        {{"Odd1", "Com4", "SPD96", "None1"}, {"Com4", "SPD96", "None1"}},
        {{"Com2", "SPD96", "Odd1", "Com2", "SPD192", "Even1", "Com1"}, {"Com1", "SPD192", "Even1"}},
    };
    for (const Case& c : cases) {
        Shown s;
        for (const char* name : c.clicks)
            QTest::mouseClick(Find(s.window, name), Qt::LeftButton);
        EXPECT_EQ(Selected(s.window), c.selected) << c.clicks.back();
        EXPECT_FALSE(s.window.Port().IsOpen());
    }
}

TEST(Window, ArrowKeysSelectWithinTheFocusedGroup)
{
    Shown s;
    QWidget* speed = Find(s.window, "SPD192");
    speed->setFocus();
    QTest::keyClick(speed, Qt::Key_Down);
    EXPECT_EQ(QApplication::focusWidget(), Find(s.window, "SPD96"));
    EXPECT_EQ(Selected(s.window), (std::vector<std::string>{"Com1", "SPD96", "None1"}));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(Selected(s.window), (std::vector<std::string>{"Com1", "SD384", "None1"}));
}

TEST(Window, TabWalksTheFocusableControlsByTabIndex)
{
    // As on Windows, an option group is one Tab stop: its selected member.
    struct Case
    {
        std::vector<const char*> clicks;
        std::vector<std::string> stops;
    } cases[] = {
        {{},
         {"TX1", "Stno1_0", "None1", "SPD192", "Com1", "Address_1", "Write_command", "Stno1_1",
          "Write_data", "Address_0"}},
        {{"Com4", "SD384", "Even1"},
         {"TX1", "Stno1_0", "Even1", "Com4", "SD384", "Address_1", "Write_command", "Stno1_1",
          "Write_data", "Address_0"}},
        {{"Com5", "SPD96", "Odd1"},
         {"TX1", "Stno1_0", "Odd1", "Com5", "SPD96", "Address_1", "Write_command", "Stno1_1",
          "Write_data", "Address_0"}},
    };
    for (const Case& c : cases) {
        Shown s;
        for (const char* name : c.clicks)
            QTest::mouseClick(Find(s.window, name), Qt::LeftButton);
        Find(s.window, "Address_0")->setFocus();
        std::vector<std::string> visited;
        for (std::size_t i = 0; i < c.stops.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited.push_back(QApplication::focusWidget()->objectName().toStdString());
        }
        EXPECT_EQ(visited, c.stops);
    }
}

TEST(Window, ScreenReadersHearNamesAndTheResult)
{
    MainWindow w;
    const std::map<const char*, const char*> names = {
        {"Stno1_0", "Read station"},    {"Address_0", "Read address"}, {"Stno1_1", "Write station"},
        {"Address_1", "Write address"}, {"Write_data", "Write value"},
    };
    for (const auto& [name, accessible] : names) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(Find(w, name));
        EXPECT_EQ(a->text(QAccessible::Name), accessible);
    }
    for (const char* name : {"Frame2", "SPD96", "Label4_0", "TX1"}) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(Find(w, name));
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << name;
    }
    w.SetRxData("CMDErr");
    w.SetRxDetail("Exception 02: Illegal data address");
    QAccessibleInterface* rx = QAccessible::queryAccessibleInterface(Find(w, "Rx_data"));
    EXPECT_EQ(rx->text(QAccessible::Name), "CMDErr");
    EXPECT_EQ(rx->text(QAccessible::Description), "Exception 02: Illegal data address");
}

TEST(Window, HeadersWearTheHighlightColours)
{
    MainWindow w;
    const QPalette app = QApplication::palette();
    for (const char* name : {"Label1_2", "Label1_3"}) {
        QWidget* header = Find(w, name);
        EXPECT_TRUE(header->autoFillBackground()) << name;
        EXPECT_EQ(header->palette().color(QPalette::Window),
                  app.color(QPalette::Active, QPalette::Highlight));
        EXPECT_EQ(header->palette().color(QPalette::WindowText),
                  app.color(QPalette::Active, QPalette::HighlightedText));
    }
    EXPECT_FALSE(Find(w, "Label1_0")->autoFillBackground());
}

// Runs `action` inside the wait of the next command that greys `button`. The button goes grey
// before the port opens, and nothing lets window events run before the wait does.
class InItsWait : public QObject
{
public:
    InItsWait(QWidget* button, std::function<void()> action)
        : m_button(button), m_action(std::move(action))
    {
        button->installEventFilter(this);
    }
    ~InItsWait() override
    {
        if (m_button)
            m_button->removeEventFilter(this);
    }
    bool fired = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::EnabledChange && !m_button->isEnabled() && !fired) {
            fired = true;
            QTimer::singleShot(0, m_button, m_action);
        }
        return false;
    }

private:
    QPointer<QWidget> m_button;
    std::function<void()> m_action;
};

struct WithSlave : Shown
{
    SlaveProcess slave;
    QPushButton* read = Find<QPushButton>(window, "TX1");
    QPushButton* write = Find<QPushButton>(window, "Write_command");

    WithSlave() { qputenv("VEK_COM1", slave.Device().c_str()); }
    ~WithSlave() { qunsetenv("VEK_COM1"); }

    QString ReadBack(const char* address)
    {
        SetText(window, "Address_0", address);
        read->click();
        return Text(window, "Rx_data");
    }
};

TEST(WindowOnTheLine, ReadsAndWritesThroughTheSlave)
{
    WithSlave s;
    s.read->setFocus();
    QTest::keyClick(s.read, Qt::Key_Space);
    EXPECT_EQ(Text(s.window, "Rx_data"), " 42");
    EXPECT_EQ(Text(s.window, "Stno1_0"), " 1");
    EXPECT_TRUE(Find(s.window, "Rx_data")->toolTip().contains("Sent 8 bytes: 01 04 00 01 00 01"));
    EXPECT_EQ(QApplication::focusWidget(), s.read) << "the space bar can repeat the read";

    SetText(s.window, "Write_data", "1234");
    QTest::mouseClick(s.write, Qt::LeftButton);
    EXPECT_EQ(Text(s.window, "Stno1_1"), " 1");
    // The write shows nothing, but its request replaces the read's in the detail.
    EXPECT_EQ(Text(s.window, "Rx_data"), " 42");
    EXPECT_TRUE(Find(s.window, "Rx_data")->toolTip().contains("01 06 03 E8 04 D2 8B 27"));
    EXPECT_EQ(s.ReadBack("41001"), " 1234");
    EXPECT_FALSE(s.window.Port().IsOpen());

    // A right-click on the result copies the whole detail.
    QWidget* result = Find(s.window, "Rx_data");
    QGuiApplication::clipboard()->clear();
    QTimer::singleShot(0, [] {
        QMenu* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_TRUE(menu);
        ASSERT_EQ(menu->actions().value(0)->text(), "Copy details");
        menu->actions().value(0)->trigger();
        menu->close();
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(4, 4), result->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(result, &click);
    QCoreApplication::processEvents();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), result->toolTip());

    // A menu opened during a read's wait neither holds the read up nor goes with it.
    InItsWait hook(s.read, [&] { QApplication::sendEvent(result, &click); });
    s.read->click();
    ASSERT_TRUE(hook.fired);
    ASSERT_TRUE(QApplication::activePopupWidget());
    QApplication::activePopupWidget()->close();
}

TEST(WindowOnTheLine, TheClickedPortSpeedAndParityReachTheDevice)
{
    // COM4 and COM5 are two lines; the one that hears the read tells how it was set. A pty
    // clears the parity enable, so none and even look alike there: the settings that the window
    // hands to a port that keeps them tell those two apart.
    struct Case
    {
        std::vector<const char*> clicks;
        int com;
        speed_t speed;
        bool odd;
        const char* open;
    } cases[] = {
        {{"Com4", "SPD96", "Odd1"}, 4, B9600, true, "9600,O,8,1"},
        {{"Com5", "SD384", "Even1"}, 5, B38400, false, "38400,E,8,1"},
        {{"Com5", "Even1", "None1"}, 5, B19200, false, "19200,N,8,1"},
    };
    for (const Case& c : cases) {
        PtyPeer com4, com5;
        qputenv("VEK_COM4", com4.Device().c_str());
        qputenv("VEK_COM5", com5.Device().c_str());
        Shown s;
        for (const char* name : c.clicks)
            QTest::mouseClick(Find(s.window, name), Qt::LeftButton);
        Find<QPushButton>(s.window, "TX1")->click();

        const PtyPeer& line = c.com == 4 ? com4 : com5;
        EXPECT_TRUE((c.com == 4 ? com5 : com4).Heard().empty()) << c.open;
        const std::optional<termios> t = line.LineAtLastRequest();
        ASSERT_TRUE(t.has_value()) << c.open;
        EXPECT_EQ(cfgetospeed(&*t), c.speed) << c.open;
        EXPECT_EQ((t->c_cflag & PARODD) != 0, c.odd) << c.open;
        EXPECT_EQ(t->c_cflag & CSTOPB, 0u) << c.open << ": one stop bit";

        FakePort port;
        double now = 0;
        Commands commands(s.window, port, {[&] { return now; }, [&](double t) { now += t; }, {}});
        commands.Click(Row::Read);
        EXPECT_EQ(port.log.front(), "open " + line.Device() + " " + c.open);
        qunsetenv("VEK_COM4");
        qunsetenv("VEK_COM5");
    }
}

TEST(WindowOnTheLine, EnterAndEscapeStartAndEndNothing)
{
    WithSlave s;
    const auto press = [&] {
        for (const char* name : {"Stno1_0", "Address_0", "Stno1_1", "Address_1", "Write_data"}) {
            QWidget* box = Find(s.window, name);
            box->setFocus();
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
                QTest::keyClick(box, key);
        }
        QTest::keyClick(&s.window, Qt::Key_Escape);
    };
    // A command would rewrite a station field (" 1") or show something in Rx_data.
    press();
    EXPECT_EQ(Text(s.window, "Stno1_0"), "1");
    EXPECT_EQ(Text(s.window, "Stno1_1"), "1");
    EXPECT_EQ(Text(s.window, "Rx_data"), "");

    // Inside a read's wait the keys neither give the read up nor queue a write.
    InItsWait hook(s.read, press);
    s.read->click();
    ASSERT_TRUE(hook.fired);
    EXPECT_EQ(Text(s.window, "Rx_data"), " 42");
    EXPECT_EQ(Text(s.window, "Stno1_1"), "1");
    EXPECT_TRUE(s.window.isVisible());
}

TEST(WindowOnTheLine, OnlyTheRunningCommandsButtonIsGrey)
{
    for (bool reading : {true, false}) {
        WithSlave s;
        QPushButton* own = reading ? s.read : s.write;
        QPushButton* other = reading ? s.write : s.read;
        bool ownEnabled = true, otherEnabled = false, portOpen = false;
        InItsWait hook(own, [&] {
            ownEnabled = own->isEnabled();
            otherEnabled = other->isEnabled();
            portOpen = s.window.Port().IsOpen();
        });
        own->click();
        ASSERT_TRUE(hook.fired);
        EXPECT_FALSE(ownEnabled) << reading;
        EXPECT_TRUE(otherEnabled) << reading;
        EXPECT_TRUE(portOpen) << reading;
        EXPECT_TRUE(own->isEnabled() && other->isEnabled()) << reading;
        EXPECT_FALSE(s.window.Port().IsOpen()) << reading;
    }
}

TEST(WindowOnTheLine, TheOtherCommandWaitsForTheRunningOne)
{
    struct Case
    {
        bool readFirst;
        const char* shown; // the read sees the holding register before or after the write
    } cases[] = {{true, " 0"}, {false, " 555"}};
    for (const Case& c : cases) {
        WithSlave s;
        SetText(s.window, "Address_0", "41001");
        SetText(s.window, "Write_data", "555");
        QPushButton* first = c.readFirst ? s.read : s.write;
        QPushButton* second = c.readFirst ? s.write : s.read;
        const char* secondStation = c.readFirst ? "Stno1_1" : "Stno1_0";
        QString stationInWait;
        bool secondEnabledInWait = false;
        InItsWait hook(first, [&] {
            second->click();
            stationInWait = Text(s.window, secondStation);
            secondEnabledInWait = second->isEnabled();
        });
        first->click();
        ASSERT_TRUE(hook.fired);
        EXPECT_EQ(stationInWait, "1") << "the second command started inside the first one's wait";
        EXPECT_TRUE(secondEnabledInWait);
        EXPECT_EQ(Text(s.window, secondStation), " 1") << "the deferred command never ran";
        EXPECT_EQ(Text(s.window, "Rx_data"), c.shown) << c.readFirst;
        EXPECT_EQ(s.ReadBack("41001"), " 555");
    }
}

TEST(WindowOnTheLine, ASecondClickOnTheWaitingCommandChangesNothing)
{
    WithSlave s;
    SetText(s.window, "Write_data", "1234");
    InItsWait inRead(s.read, [&] {
        s.write->click();
        s.write->click();
    });
    // Had the second click queued another write, it would write this value.
    InItsWait inWrite(s.write, [&] { SetText(s.window, "Write_data", "777"); });
    s.read->click();
    ASSERT_TRUE(inRead.fired && inWrite.fired);
    EXPECT_EQ(Text(s.window, "Rx_data"), " 42");
    EXPECT_EQ(s.ReadBack("41001"), " 1234");
}

TEST(WindowOnTheLine, ClosingDuringTheWaitAbandonsTheCommand)
{
    for (bool reading : {true, false}) {
        WithSlave s;
        QPushButton* own = reading ? s.read : s.write;
        QPushButton* other = reading ? s.write : s.read;
        const QString detailBefore = Find(s.window, "Rx_data")->toolTip();
        bool openAfterClose = true;
        InItsWait hook(own, [&] {
            other->click(); // deferred, then dropped by the close
            s.window.close();
            openAfterClose = s.window.Port().IsOpen();
        });
        own->click();
        ASSERT_TRUE(hook.fired);
        EXPECT_FALSE(openAfterClose) << reading;
        EXPECT_FALSE(s.window.isVisible());
        EXPECT_EQ(Text(s.window, "Rx_data"), "") << reading;
        EXPECT_EQ(Text(s.window, reading ? "Stno1_1" : "Stno1_0"), "1") << "deferred command ran";
        if (reading) {
            EXPECT_EQ(Find(s.window, "Rx_data")->toolTip(), detailBefore);
        }
    }
}

// The slave behind a device server on COM3: a write read back at a speed and parity that do not
// reach it. One that never takes the connection: the window stays live meanwhile, and closing it
// gives the command up at once.
TEST(WindowOnTheLine, ThroughADeviceServer)
{
    WithSlave s;
    const DeviceServer server(Terminal(s.slave.Device()));
    qputenv("VEK_COM3", server.Address().c_str());
    for (const char* option : {"Com3", "SPD96", "Odd1"})
        QTest::mouseClick(Find(s.window, option), Qt::LeftButton);
    SetText(s.window, "Write_data", "4321");
    s.write->click();
    EXPECT_EQ(s.ReadBack("41001"), " 4321");
    EXPECT_TRUE(Find(s.window, "Rx_data")->toolTip().contains("\nLine settings are the device"));

    const DeafServer deaf;
    qputenv("VEK_COM3", deaf.Address().c_str());
    for (const bool closing : {false, true}) {
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (++ticks == 3 && closing)
                s.window.close();
        });
        ticker.start(50);
        const double start = SteadySeconds();
        s.read->click();
        EXPECT_NEAR(SteadySeconds() - start, closing ? 0.15 : 3, 0.3) << closing;
        EXPECT_GE(ticks, closing ? 3 : 30);
        EXPECT_FALSE(s.window.Port().IsOpen()) << closing;
        // Given up, the command touches the window no more.
        EXPECT_EQ(s.read->isEnabled(), !closing);
        EXPECT_EQ(Text(s.window, "Rx_data"), "PortErr");
        EXPECT_TRUE(Find(s.window, "Rx_data")->toolTip().endsWith("connection within 3 s"));
    }
    qunsetenv("VEK_COM3");
}

TEST(WindowOnTheLine, TheProgramEndsWhenClosedDuringAWait)
{
    SlaveProcess slave;
    qputenv("VEK_COM1", slave.Device().c_str());
    auto window = std::make_unique<MainWindow>();
    window->show();
    QPushButton* read = Find<QPushButton>(*window, "TX1");
    InItsWait hook(read, [&] { window->close(); });
    // As in main(): the application's event loop ends with its last window, and the window
    // outlives it.
    QTimer::singleShot(0, read, &QPushButton::click);
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    giveUp.start(10000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(hook.fired);
    EXPECT_EQ(Text(*window, "Rx_data"), "");
    EXPECT_FALSE(window->Port().IsOpen());
    window.reset();
    qunsetenv("VEK_COM1");
}

} // namespace
