// The panel without a window: the keyboard's way through it, the option groups as clicks reach
// the opened port, and the sequencing of the two commands.
#include "fake_panel.h"
#include "fake_port.h"
#include "panel/commands.h"
#include "serial/device.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

TEST(KeyboardOrder, PutsEachGroupTogetherAtItsSelectedMember)
{
    struct Case
    {
        std::set<std::string_view> on;
        std::vector<std::string> order;
    } cases[] = {
        {{"Com1", "SPD192", "None1"},
         {"Address_0", "TX1", "Stno1_0", "None1", "Odd1", "Even1", "SD384", "SPD192", "SPD96",
          "Com1", "Com2", "Com3", "Com4", "Com5", "Address_1", "Write_command", "Stno1_1",
          "Write_data"}},
        {{"Com4", "SD384", "Even1"},
         {"Address_0", "TX1", "Stno1_0", "None1", "Odd1", "Even1", "Com1", "Com2", "Com3", "Com4",
          "Com5", "SD384", "SPD192", "SPD96", "Address_1", "Write_command", "Stno1_1",
          "Write_data"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> order;
        for (const Control* control :
             KeyboardOrder([&](std::string_view option) { return c.on.contains(option); }))
            order.emplace_back(control->name);
        EXPECT_EQ(order, c.order);
    }
}

// A panel whose option buttons follow the option-group rule, as both windows' do.
struct OptionPanel : FakePanel
{
    std::map<std::string_view, bool> on;

    OptionPanel()
    {
        for (const std::string_view option : StartSelection())
            Click(option);
    }
    void Click(std::string_view option)
    {
        ClickOption(option, [this](std::string_view member, bool state) { on[member] = state; });
    }
    Selectors SelectorState() const override
    {
        return SelectorsFrom([this](std::string_view option) {
            const auto it = on.find(option);
            return it != on.end() && it->second;
        });
    }
};

TEST(OptionGroups, TheClickedOptionsReachTheOpenedPort)
{
    const char* speeds[][2] = {{"SD384", "38400"}, {"SPD192", "19200"}, {"SPD96", "9600"}};
    const char* parities[][2] = {{"None1", "N"}, {"Odd1", "O"}, {"Even1", "E"}};
    for (int port = 1; port <= 5; ++port)
        for (const auto& [speed, baud] : speeds)
            for (const auto& [parity, letter] : parities) {
                OptionPanel panel;
                FakePort line;
                double now = 0;
                Commands commands(panel, line,
                                  WaitServices{[&] { return now; }, [&](double t) { now += t; }, {}});
                // Each group clicked after the others, so that a rule that reached into another
                // group would undo an earlier click.
                for (const std::string& option : {std::string(parity), std::string(speed),
                                                  "Com" + std::to_string(port)})
                    panel.Click(option);
                commands.Click(Row::Read);
                const std::string expected = "open " + DeviceForPort(port).path + " " + baud +
                                             "," + letter + ",8,1";
                EXPECT_EQ(line.log.front(), expected);
            }
}

TEST(OptionGroups, AClickTouchesOnlyItsOwnGroup)
{
    for (const auto group : OptionGroups())
        for (const std::string_view clicked : group)
            ClickOption(clicked, [&](std::string_view member, bool) {
                EXPECT_NE(std::find(group.begin(), group.end(), member), group.end())
                    << clicked << " touched " << member;
            });
}

// Two commands and a window that closes, all during the first command's wait.
struct Sequence
{
    FakePanel panel;
    FakePort port;
    std::vector<std::string> journal;
    std::function<void(Commands&)> duringWait;
    double now = 0;
    int waits = 0;
    std::unique_ptr<Commands> commands;

    Sequence()
    {
        panel.journal = port.journal = &journal;
        panel.address[1] = "41001";
        commands = std::make_unique<Commands>(
            panel, port, WaitServices{[this] { return now; },
                                      [this](double) {
                                          now += 0.1;
                                          if (waits++ == 0 && duringWait)
                                              duringWait(*commands);
                                      },
                                      {}});
    }
    std::vector<int> Functions() const // of the requests sent
    {
        std::vector<int> functions;
        for (const Bytes& b : port.sent)
            functions.push_back(b[1]);
        return functions;
    }
};

TEST(Commands, AClickDuringAWaitRunsOnceAfterIt)
{
    Sequence s;
    s.duringWait = [](Commands& commands) {
        commands.Click(Row::Write);
        commands.Click(Row::Read); // the running command's own: nothing
        commands.Click(Row::Write);
    };
    s.commands->Click(Row::Read);
    EXPECT_EQ(s.Functions(), (std::vector<int>{4, 6}));
    EXPECT_FALSE(s.port.IsOpen());
    EXPECT_TRUE(s.panel.enabled[0] && s.panel.enabled[1]);
}

TEST(Commands, AClosedWindowGivesUpTheCommandAndTouchesNothingAfter)
{
    Sequence s;
    s.duringWait = [&s](Commands& commands) {
        commands.Click(Row::Write);
        s.journal.push_back("closing");
        commands.WindowClosing();
    };
    s.commands->Click(Row::Read);
    const auto closing = std::find(s.journal.begin(), s.journal.end(), "closing");
    ASSERT_NE(closing, s.journal.end());
    EXPECT_EQ(std::vector<std::string>(closing + 1, s.journal.end()),
              std::vector<std::string>{"close"});
    EXPECT_EQ(s.Functions(), std::vector<int>{4});

    // A command after that runs as ever.
    s.commands->Click(Row::Read);
    EXPECT_EQ(s.Functions(), (std::vector<int>{4, 4}));
    EXPECT_EQ(s.journal.back(), "enable 0");
}

} // namespace
