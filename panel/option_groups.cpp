#include "option_groups.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::string_view kPort[] = {"Com1", "Com2", "Com3", "Com4", "Com5"};
constexpr std::string_view kSpeed[] = {"SD384", "SPD192", "SPD96"};
constexpr std::string_view kParity[] = {"None1", "Odd1", "Even1"};
constexpr std::array<std::span<const std::string_view>, 3> kGroups = {kPort, kSpeed, kParity};

} // namespace

std::span<const std::span<const std::string_view>> OptionGroups()
{
    return kGroups;
}

bool ClickOption(std::string_view clicked,
                 const std::function<void(std::string_view member, bool on)>& set)
{
    for (const auto group : kGroups) {
        if (std::find(group.begin(), group.end(), clicked) == group.end())
            continue;
        for (const std::string_view member : group)
            set(member, member == clicked);
        return true;
    }
    return false;
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
