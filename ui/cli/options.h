#pragma once

#include "panel/engine.h"

#include <string>
#include <variant>
#include <vector>

// What vek-cli was asked to do, in typed values: one read or write, or a scan.
enum class Verb { Help, Version, Read, Write, Scan };

struct Options
{
    Verb verb = Verb::Help;
    // A read's or a write's whole command; for a scan its device, register and wait, station and
    // settings changing from try to try.
    Command command;
    bool verbose = false;
    bool json = false;
    std::uint8_t firstStation = 1;
    std::uint8_t lastStation = 247;
    std::vector<int> speeds{19200, 9600, 38400};
    std::vector<Parity> parities{Parity::None, Parity::Even, Parity::Odd};
    bool all = false;
};

// The options of an argument line (without the program's name), or why it is refused, in one
// line. Nothing is opened here: a refused line sends nothing.
std::variant<Options, std::string> ParseArguments(const std::vector<std::string>& args);

// "none", "odd", "even", as the options name them.
const char* ParityName(Parity parity);

extern const char* const kHelp;
