#pragma once

#include "options.h"
#include "report.h"

// Polls a read on a port kept open, at options.interval (0: as fast as the line allows), for
// options.polls polls (0: until Ctrl+C), printing each poll as options.format has it; `terminal`:
// stdout is a terminal, which also gets a status line under the values. Ends with the statistics
// and the wait advice on stderr (and as a last JSON object), and with the plot when one is asked
// for. Exit 0 at the end or on Ctrl+C, 4 when the port fails, 74 when the output cannot be
// written (a closed pipe ends it quietly with 0).
ExitStatus Watch(Line& line, const Options& options, bool terminal);
