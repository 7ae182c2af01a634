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
std::string LogLine(const std::string& time, int portNo, const Command& command,
                    const Outcome& outcome);
// Appends the line; nothing when it was written, else why not ("/var/log/x: Permission denied").
std::optional<std::string> AppendLog(const std::string& path, const std::string& line);
// The local date and time with milliseconds, "2026-12-07 23:59:59.123".
std::string LocalTimestamp();
