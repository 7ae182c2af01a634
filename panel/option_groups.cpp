#include "panel/option_groups.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::string_view kPort[] = {"Com1", "Com2", "Com3", "Com4", "Com5"};
constexpr std::string_view kSpeed[] = {"SD384", "SPD192", "SPD96"};
constexpr std::string_view kParity[] = {"None1", "Odd1", "Even1"};
constexpr std::array<std::span<const std::string_view>, 3> kGroups = {kPort, kSpeed, kParity};
constexpr std::string_view kStart[] = {"Com1", "SPD192", "None1"};

// The group the option belongs to; empty for a name that is no option.
std::span<const std::string_view> GroupOf(std::string_view option)
{
    for (const auto group : kGroups)
        if (std::find(group.begin(), group.end(), option) != group.end())
            return group;
    return {};
}

} // namespace

std::span<const std::span<const std::string_view>> OptionGroups()
{
    return kGroups;
}

std::span<const std::string_view> StartSelection()
{
    return kStart;
}

bool ClickOption(std::string_view clicked,
                 const std::function<void(std::string_view member, bool on)>& set)
{
    const auto group = GroupOf(clicked);
    for (const std::string_view member : group)
        set(member, member == clicked);
    return !group.empty();
}

int PortOfOption(std::string_view option)
{
    const auto port = std::find(std::begin(kPort), std::end(kPort), option);
    return port == std::end(kPort) ? 0 : static_cast<int>(port - std::begin(kPort)) + 1;
}

int PortFromSelectors(const Selectors& s)
{
    if (s.Com5)
        return 5;
    if (s.Com4)
        return 4;
    if (s.Com3)
        return 3;
    if (s.Com2)
        return 2;
    return 1;
}

LineSettings SettingsFromSelectors(const Selectors& s)
{
    return LineSettings{.baud = s.SPD192 ? 19200 : s.SPD96 ? 9600 : 38400,
                        .parity = s.Even1  ? Parity::Even
                                  : s.Odd1 ? Parity::Odd
                                           : Parity::None};
}

Selectors SelectorsFrom(const std::function<bool(std::string_view option)>& isOn)
{
    Selectors s;
    s.Com2 = isOn("Com2");
    s.Com3 = isOn("Com3");
    s.Com4 = isOn("Com4");
    s.Com5 = isOn("Com5");
    s.SPD192 = isOn("SPD192");
    s.SPD96 = isOn("SPD96");
    s.Odd1 = isOn("Odd1");
    s.Even1 = isOn("Even1");
    return s;
}

std::vector<const Control*> KeyboardOrder(const std::function<bool(std::string_view option)>& isOn)
{
    std::vector<const Control*> order;
    for (const Control* c : TabOrder()) {
        if (c->kind != Kind::Option) {
            order.push_back(c);
            continue;
        }
        if (isOn(c->name))
            for (const std::string_view member : GroupOf(c->name))
                order.push_back(FindControl(member));
    }
    return order;
}
