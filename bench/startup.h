#pragma once

#include <optional>
#include <string>

// Start-up time, measured on a fresh process: the benchmark starts itself in a child mode that
// creates the application and the window, shows it, and reports through a pipe when the
// window is exposed and when its first paint is done.

struct StartupTimes
{
    double exposed = 0; // seconds from just before the spawn
    double painted = 0;
};

// The child side: `self --startup-child FD`. Returns the process exit code.
int RunStartupChild(int argc, char** argv, int fd);

// The parent side: one start-up of `self`; nullopt (with the reason in `error`) when the child
// failed or took longer than ten seconds.
std::optional<StartupTimes> MeasureStartup(const std::string& self, std::string& error);
