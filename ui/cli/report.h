#pragma once

#include "options.h"

#include <string>

// vek-cli's exit status, one for each way a command can end.
enum ExitStatus {
    kExitOk = 0,         // a value read, a write confirmed, a device found
    kExitNoAnswer = 1,   // Noans; a scan that found nothing
    kExitCrcError = 2,   // CRCErr; a scan where something answers, but never correctly
    kExitException = 3,  // CMDErr; a write refused
    kExitPortError = 4,  // PortErr; a scan stopped by its port
    kExitOtherReply = 5, // a write answered with something else than its confirmation
    kExitUsage = 64,
    kExitInterrupted = 130,
};

ExitStatus StatusOf(Result result);

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
