#pragma once

#include "serial/exchange.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// What vek-cli takes from its platform, the one part of it that is not portable: a serial port
// with the wait's clock and event pump (Qt's on Linux, Win32's on Windows), its arguments in UTF-8
// and whether a stream is a terminal.
class Platform
{
public:
    virtual ~Platform() = default;
    virtual SerialPort& Port() = 0;
    virtual WaitServices Wait() const = 0;
    // Ctrl+C (and SIGTERM where there is one) calls `interrupted`, which may only set a flag,
    // and wakes the wait at once, however long it was to sleep; a second Ctrl+C ends the program.
    virtual void CatchInterrupts(void (*interrupted)()) = 0;
};

// `argc` lives as long as the platform (Qt keeps a reference to it).
std::unique_ptr<Platform> MakePlatform(int& argc, char** argv);
// The arguments after the program's name.
std::vector<std::string> Arguments(int argc, char** argv);
bool IsTerminal(std::FILE* stream);
