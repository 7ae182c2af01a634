#pragma once

#include <string>

enum class Parity { None, Odd, Even };

// What a command asks of the line: a speed and a parity, always 8 data bits and 1 stop bit.
struct LineSettings
{
    int baud = 19200;
    Parity parity = Parity::None;

    bool operator==(const LineSettings&) const = default;
};

// The settings as an operator writes them, "19200,N,8,1".
std::string SettingsText(const LineSettings& settings);
