#pragma once

#include "panel/command.h"

// Everything a command runs on: a serial port, and the wait's clock and event pump.
struct Line
{
    SerialPort& port;
    WaitServices wait;
};

// A whole command: opens the port, sends, waits, takes a read's reply, closes the port; again,
// up to command.retries times, while nothing or a wrong CRC comes back.
Outcome Run(Line& line, const Command& command);
// One try from the send on, for a caller that opened the port itself (the window reads its
// fields only once the port is open). Ends with the port closed, unless the command was given up:
// then the port and everything else is left alone. `keepOpen`: a poll of a port that stays open
// (closed only when it failed), which starts by dropping whatever came since the last one.
Outcome Exchange(Line& line, const Command& command, bool keepOpen = false);
// The same on a port that the caller opened and keeps open between polls: tries as Run does.
Outcome Poll(Line& line, const Command& command);
// Opens the command's port, the wait's events running while a device server takes the
// connection. Nothing when it opened; else the outcome, with the port closed: its failure, or the
// command given up meanwhile.
std::optional<Outcome> OpenFor(Line& line, const Command& command);
// The outcome of a port that failed, at the open or later.
Outcome PortFailure(CommandKind kind, const PortError& error);
