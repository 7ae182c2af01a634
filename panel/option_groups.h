#pragma once

#include "panel/layout.h"
#include "serial/line_settings.h"

#include <functional>
#include <span>
#include <string_view>
#include <vector>

// The three option groups of the panel, each in its fixed order: port (Com1..Com5), speed
// (SD384, SPD192, SPD96) and parity (None1, Odd1, Even1).
std::span<const std::span<const std::string_view>> OptionGroups();
// The member of each group that is on when the window opens: COM1, 19200bps, NONE.
std::span<const std::string_view> StartSelection();

// The option-group rule: a click on an option walks its own group in order and turns the clicked
// member on and every other member off. Returns false for a name that is no option.
bool ClickOption(std::string_view clicked,
                 const std::function<void(std::string_view member, bool on)>& set);

// What the port, speed and parity groups say; only the members that decide anything are here
// (COM1, 38400bps and NONE are what a group means when none of these is on).
struct Selectors
{
    bool Com2 = false, Com3 = false, Com4 = false, Com5 = false;
    bool SPD192 = false, SPD96 = false;
    bool Odd1 = false, Even1 = false;
};

// The port number, 1 to 5: the highest-numbered of COM2..COM5 that is on, else 1.
int PortFromSelectors(const Selectors& s);
// 19200 if SPD192 is on, else 9600 if SPD96 is, else 38400; even, else odd, else none.
LineSettings SettingsFromSelectors(const Selectors& s);

// The port number (1 for Com1 .. 5 for Com5) that an option of the port group stands for, or 0.
int PortOfOption(std::string_view option);

// What the groups say, from each option's selected state.
Selectors SelectorsFrom(const std::function<bool(std::string_view option)>& isOn);

// The focusable controls in the order the Tab key visits them when each option group is one
// stop: a group stands at the tab index of its selected member, with all its members together
// in the group's order, the order of the arrow keys.
std::vector<const Control*> KeyboardOrder(const std::function<bool(std::string_view option)>& isOn);
