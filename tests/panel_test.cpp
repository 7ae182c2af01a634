// The keyboard's way through the panel: each option group one Tab stop, its members together.
#include "option_groups.h"

#include <gtest/gtest.h>

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

} // namespace
