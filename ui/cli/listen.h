#pragma once

#include "options.h"
#include "report.h"

#include "panel/engine.h"

#include <cstdio>

// vek-cli listen: opens the port of options.command at its speed and parity and never sends a
// byte. Prints each exchange it hears on `out` (a line each, or a JSON object with
// options.json; with options.raw each chunk as it came too) until the wait is given up (Ctrl+C)
// or the port fails, then each station's counts and reply times on `err`. Exit 0 when given up,
// 4 when the port would not open or failed.
ExitStatus Listen(Line& line, const Options& options, std::FILE* out, std::FILE* err);
