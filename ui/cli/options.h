#pragma once

#include "modbus/values.h"
#include "panel/engine.h"

#include <string>
#include <variant>
#include <vector>

// What vek-cli was asked to do, in typed values: one read or write, a scan, a watch, or listening.
enum class Verb { Help, Version, Read, Write, Scan, Watch, Listen };

// How a watch prints its polls.
enum class Format { Table, Csv, Tsv, Json };

struct Options
{
    Verb verb = Verb::Help;
    // A read's or a write's whole command; for a scan its device, register and wait, station and
    // settings changing from try to try.
    Command command;
    bool verbose = false;
    bool json = false;
    std::string portName; // PORT as given, for the traffic log
    bool raw = false; // listen: each chunk as received too
    std::uint8_t firstStation = 1;
    std::uint8_t lastStation = 247;
    std::vector<int> speeds{19200, 9600, 38400};
    std::vector<Parity> parities{Parity::None, Parity::Even, Parity::Odd};
    bool all = false;
    // How a read shows its registers and a write takes its VALUEs: the type and word order, and
    // whether either was asked for (else a plain register, as the panel has it).
    ValueType type = ValueType::Int16;
    WordOrder order = WordOrder::ABCD;
    bool allOrders = false;
    bool typed = false;
    // A watch's: seconds between polls (0: as fast as the line allows), how many (0: until
    // Ctrl+C), how they print (`formatGiven`: as asked, else a table on a terminal and CSV
    // elsewhere), and where its plot goes.
    double interval = 1;
    std::size_t polls = 0;
    Format format = Format::Table;
    bool formatGiven = false;
    std::string plot;
};

// The options of an argument line (without the program's name), or why it is refused, in one
// line. Nothing is opened here: a refused line sends nothing.
std::variant<Options, std::string> ParseArguments(const std::vector<std::string>& args);

// "none", "odd", "even", as the options name them.
const char* ParityName(Parity parity);

extern const char* const kHelp;
