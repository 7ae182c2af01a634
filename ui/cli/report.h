#pragma once

#include "options.h"

#include <string>
#include <utility>
#include <vector>

// vek-cli's exit status, one for each way a command can end.
enum ExitStatus {
    kExitOk = 0,         // a value read, a write confirmed, a device found
    kExitNoAnswer = 1,   // Noans; a scan that found nothing
    kExitCrcError = 2,   // CRCErr; a scan where something answers, but never correctly
    kExitException = 3,  // CMDErr; a write refused
    kExitPortError = 4,  // PortErr; a scan stopped by its port
    kExitOtherReply = 5, // a correct reply that does not answer the request
    kExitOutput = 74,    // a watch's output could not be written
    kExitUsage = 64,
    kExitInterrupted = 130,
};

ExitStatus StatusOf(Result result);

// A text as a JSON string, quotes and escapes included.
std::string Quoted(const std::string& text);
// A JSON object's field after the first: ,"name":json.
std::string Field(const char* name, const std::string& json);
// Seconds as milliseconds with one decimal, "14.2".
std::string Milliseconds(double seconds);
// A value in JSON: a number where it is a finite one, else a string.
std::string JsonValue(ValueType type, const std::string& text);

// One value of a block: where it starts, its registers in hex, and its value in each order that
// is shown (with whether it looks plausible there).
struct BlockValue
{
    std::string ref;
    std::string raw;
    std::vector<std::pair<WordOrder, std::string>> values;
    std::vector<bool> plausible;
};
// The references of a read's values, one a value.
std::vector<std::string> ValueRefs(const Options& options);
// The values of a read that came back, as the options show them: bits, or registers by type.
std::vector<BlockValue> BlockValues(const Options& options, const Outcome& outcome);

// The speed and parity as the options name them, "9600 even".
std::string SettingsWords(const LineSettings& settings);

// One result line as a JSON object: the outcome, the value, the settings, the bytes both ways and
// their timing; with `detail`, the whole detail.
// A read's block (`block`: how the options show it) gives its values as an array.
std::string JsonLine(const char* verb, const Command& command, const Outcome& outcome, bool detail,
                     const Options* block = nullptr);
// A block's values, one a line: the reference, the registers in hex, the value (with --order
// all, in each order, the plausible ones marked *).
std::string BlockText(const Options& options, const Outcome& outcome);

// A read's or a write's outcome on stdout, as text or JSON; a port's failure on stderr too.
void PrintOutcome(const Options& options, const Outcome& outcome);
