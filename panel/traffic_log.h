#pragma once

#include "panel/command.h"

#include <optional>
#include <string>

// The traffic log that VEK_LOG asks for: one tab-separated line per command, appended to the file
// the variable names. The file is opened for each line and closed again, so that it can be read or
// rotated while the panel runs; a new file starts with the line of column names.

// The columns: time, port, device, settings, command, station, register, value, sent, received,
// result, reply_ms.
std::string LogHeader();
// One command's line, without its line end. `time` as LocalTimestamp gives it.
// `port`: COM1..COM5 for the window, the PORT given for vek-cli.
std::string LogLine(const std::string& time, const std::string& port, const Command& command,
                    const Outcome& outcome);
// Appends the line; nothing when it was written, else why not ("/var/log/x: Permission denied").
std::optional<std::string> AppendLog(const std::string& path, const std::string& line);
// The command's line appended to the log that VEK_LOG names, when it names one; nothing when
// that went well, else why not.
std::optional<std::string> LogCommand(const std::string& port, const Command& command,
                                      const Outcome& outcome);
// The local date and time with milliseconds, "2026-12-07 23:59:59.123".
std::string LocalTimestamp();
// The same in ISO 8601 with the offset from UTC, "2026-12-07T23:59:59.123+01:00".
std::string IsoTimestamp();
