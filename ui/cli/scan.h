#pragma once

#include "options.h"
#include "report.h"

#include <vector>

struct ScanTry
{
    LineSettings settings;
    int station = 1;
};

// The tries in the order a scan makes them, the most likely first: the first 20 stations at the
// most common settings (the first two speeds and parities of the lists: 19200 and 9600, none and
// even), then every setting in turn with the stations not yet tried. Settings go each list's first
// entries before its later ones, then fewer steps down the lists, then no parity first.
std::vector<ScanTry> ScanOrder(const Options& options);

// One read per setting and station, each a whole command with the port open for it alone. Prints
// every device that answers (a value or an exception) and, once a setting, that something answers
// there but not correctly; stops at the first device unless options.all, when the port fails or
// when the wait is given up (Ctrl+C), with a summary on stderr. `progress`: a progress line on
// stderr.
ExitStatus Scan(Line& line, const Options& options, bool progress);
