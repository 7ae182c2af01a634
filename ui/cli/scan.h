#pragma once

#include "options.h"
#include "report.h"

#include <vector>

// The settings in the order a scan tries them, the most common first: each list's first entries
// before its later ones (19200 and 9600, none and even before 38400 and odd), then fewer steps
// down the lists, then no parity first.
std::vector<LineSettings> ScanOrder(const std::vector<int>& speeds,
                                    const std::vector<Parity>& parities);

// One read per setting and station, each a whole command with the port open for it alone. Prints
// every device that answers (a value or an exception) and, once a setting, that something answers
// there but not correctly; stops at the first device unless options.all, when the port fails or
// when the wait is given up (Ctrl+C), with a summary on stderr. `progress`: a progress line on
// stderr.
ExitStatus Scan(Line& line, const Options& options, bool progress);
