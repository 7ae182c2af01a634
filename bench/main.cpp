// vek-bench: what a command costs beyond its fixed 0.2 s wait, and how live the window stays.
//
// Runs N writes and N reads (default 200 each) through the real window and Qt SerialPort
// against the libmodbus demo slave on a pseudo-terminal, each write followed by a read of the
// same register that must give the value back, and prints a table with targets.
//
//   vek-bench [--commands N] [--probe-ms MS]
//
// --probe-ms sets the period of the timer that measures event latency (default 10 ms); its own
// wake-ups are part of the CPU figure, so a long period shows what the commands cost alone.
//
// The window runs on Xvfb when no display is set and xvfb-run is installed (X event delivery,
// as on a desktop), else on Qt's offscreen platform.
#include "main_window.h"
#include "probes.h"
#include "runner.h"
#include "slave_process.h"
#include "startup.h"
#include "stats.h"

#include <QApplication>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr double kWait = 0.2; // the fixed reply wait of every command that sends
constexpr int kStartups = 5;
// A leak of half a kilobyte per command shows over the second half of the default run; less
// than that is the allocator and Qt's caches settling.
constexpr long kRssSlackKb = 100;
constexpr const char* kOnXvfb = "VEK_BENCH_ON_XVFB";

std::string SelfPath()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

bool OnPath(const char* program)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// With no display, run again under xvfb-run; returns only when that is not possible.
void ReExecOnXvfb(int argc, char** argv)
{
    if (std::getenv("DISPLAY") || std::getenv("QT_QPA_PLATFORM") || std::getenv(kOnXvfb) ||
        !OnPath("xvfb-run"))
        return;
    setenv(kOnXvfb, "1", 1);
    std::string self = SelfPath();
    std::vector<std::string> args = {"xvfb-run", "-a", "-s", "-screen 0 1280x1024x24 -nolisten tcp",
                                     self};
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    std::vector<char*> cargs;
    for (std::string& a : args)
        cargs.push_back(a.data());
    cargs.push_back(nullptr);
    std::fflush(stdout);
    execvp("xvfb-run", cargs.data());
    std::perror("vek-bench: xvfb-run");
    unsetenv(kOnXvfb);
}

std::string Platform()
{
    const QString name = QGuiApplication::platformName();
    if (name == "xcb" && std::getenv(kOnXvfb))
        return "xcb on Xvfb " + qEnvironmentVariable("DISPLAY").toStdString() + " (xvfb-run)";
    if (name == "xcb")
        return "xcb on display " + qEnvironmentVariable("DISPLAY").toStdString();
    return name.toStdString();
}

std::string Ms(double seconds, int decimals = 2)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, seconds * 1000.0);
    return text;
}

struct Figures
{
    std::string measure, value, target;
    int verdict; // 1 PASS, 0 MISS, -1 no target
};

bool WaitExposed(QWidget& window)
{
    const double until = MonotonicSeconds() + 10.0;
    while (!(window.windowHandle() && window.windowHandle()->isExposed())) {
        if (MonotonicSeconds() > until)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

void PrintTable(const std::vector<Figures>& rows)
{
    std::printf("| measure | value | target | result |\n|---|---|---|---|\n");
    for (const Figures& r : rows)
        std::printf("| %s | %s | %s | %s |\n", r.measure.c_str(), r.value.c_str(), r.target.c_str(),
                    r.verdict < 0 ? ""
                    : r.verdict   ? "PASS"
                                  : "MISS");
}

int Usage()
{
    std::fprintf(stderr, "usage: vek-bench [--commands N] [--probe-ms MS]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--startup-child") == 0)
        return RunStartupChild(argc, argv, std::atoi(argv[2]));

    int commands = 200;
    int probeMs = 10;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--commands") == 0 && i + 1 < argc)
            commands = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--probe-ms") == 0 && i + 1 < argc)
            probeMs = std::atoi(argv[++i]);
        else
            return Usage();
    }
    if (commands < 1 || probeMs < 1)
        return Usage();

    ReExecOnXvfb(argc, argv);
    if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    const std::string machine = MachineNote();
    // Start-up first, while nothing else of ours runs.
    const std::string self = SelfPath();
    std::vector<double> exposed, painted;
    for (int i = 0; i < kStartups; ++i) {
        std::string error;
        const std::optional<StartupTimes> t = MeasureStartup(self, error);
        if (!t) {
            std::fprintf(stderr, "vek-bench: %s\n", error.c_str());
            return 1;
        }
        exposed.push_back(t->exposed);
        painted.push_back(t->painted);
    }

    QApplication app(argc, argv);
    SlaveProcess slave;
    setenv("VEK_COM1", slave.Device().c_str(), 1);

    MainWindow window;
    window.show();
    if (!WaitExposed(window)) {
        std::fprintf(stderr, "vek-bench: the window was never exposed\n");
        return 1;
    }
    Runner runner(window, commands, probeMs);
    runner.Start();
    if (app.exec() != 0) {
        std::fprintf(stderr, "vek-bench: %s\n", runner.Error().c_str());
        return 1;
    }

    const Summary rw = Summarise(runner.reads.wall), ww = Summarise(runner.writes.wall);
    const Summary rs = Summarise(runner.reads.sendToEnd), ws = Summarise(runner.writes.sendToEnd);
    const Summary rp = Summarise(runner.reads.toSend), wp = Summarise(runner.writes.toSend);
    const Summary up = Summarise(exposed), paint = Summarise(painted);
    const double total = 2.0 * commands;
    const CpuSeconds run{runner.cpuAfter.user - runner.cpuBefore.user,
                         runner.cpuAfter.system - runner.cpuBefore.system};
    const double cpuRead = runner.reads.cpu / commands, cpuWrite = runner.writes.cpu / commands;
    const double cpuRun = run.Total() / total;

    const auto wall = [](const Summary& s) {
        return Ms(s.min) + " / " + Ms(s.median) + " / " + Ms(s.p99) + " / " + Ms(s.max) + " ms";
    };
    char rss[96];
    std::snprintf(rss, sizeof rss, "%ld / %ld / %ld kB", runner.rssBefore, runner.rssHalfway,
                  runner.rssAfter);
    char cpuText[128];
    std::snprintf(
        cpuText, sizeof cpuText, "%s / %s / %s ms (%.2f %% of the wait; user %s, system %s)",
        Ms(cpuRead, 3).c_str(), Ms(cpuWrite, 3).c_str(), Ms(cpuRun, 3).c_str(),
        100.0 * cpuRun / kWait, Ms(run.user / total, 3).c_str(), Ms(run.system / total, 3).c_str());

    const std::vector<Figures> rows = {
        {"read: wall per command, min / median / p99 / max", wall(rw), "min >= 200 ms",
         rw.min >= kWait},
        {"write: wall per command, min / median / p99 / max", wall(ww), "min >= 200 ms",
         ww.min >= kWait},
        {"overhead beyond the 0.2 s wait, median (read / write)",
         Ms(rw.median - kWait) + " / " + Ms(ww.median - kWait) + " ms", "< 2 ms",
         std::max(rw.median, ww.median) - kWait < 0.002},
        {"overhead beyond the 0.2 s wait, p99 (read / write)",
         Ms(rw.p99 - kWait) + " / " + Ms(ww.p99 - kWait) + " ms", "< 10 ms",
         std::max(rw.p99, ww.p99) - kWait < 0.010},
        {"of which before the request is sent, median / p99 (read / write)",
         Ms(rp.median) + " / " + Ms(rp.p99) + " ms, " + Ms(wp.median) + " / " + Ms(wp.p99) + " ms",
         "", -1},
        {"request sent to command end, min (read / write)", Ms(rs.min) + " / " + Ms(ws.min) + " ms",
         ">= 200 ms", std::min(rs.min, ws.min) >= kWait},
        {"CPU per command, user + system (read / write / whole run)", cpuText, "< 20 ms",
         std::max({cpuRead, cpuWrite, cpuRun}) < 0.1 * kWait},
        {"worst lateness of a " + std::to_string(probeMs) +
             " ms precise timer while the commands run (" + std::to_string(runner.firings) +
             " firings)",
         Ms(runner.lateness) + " ms", "< 20 ms", runner.lateness < 0.020},
        {"open fds before / after the commands",
         std::to_string(runner.fdsBefore) + " / " + std::to_string(runner.fdsAfter), "no growth",
         runner.fdsAfter <= runner.fdsBefore},
        {"VmRSS before / halfway / after the commands", rss,
         "< " + std::to_string(kRssSlackKb) + " kB growth in the second half",
         runner.rssAfter - runner.rssHalfway < kRssSlackKb},
        {"start-up to window exposed, median (min / max of " + std::to_string(kStartups) + ")",
         Ms(up.median, 1) + " ms (" + Ms(up.min, 1) + " / " + Ms(up.max, 1) + ")", "< 300 ms",
         up.median < 0.300},
        {"start-up to first paint done, median", Ms(paint.median, 1) + " ms", "", -1},
    };

    std::printf("vek-bench: %d writes and %d reads of 41001 through the window, Qt SerialPort, "
                "libmodbus demo slave on %s\nplatform: %s\nmachine: %s\nserial lock files: %s\n\n",
                commands, commands, slave.Device().c_str(), Platform().c_str(), machine.c_str(),
                LockDirectoryNote().c_str());
    PrintTable(rows);
    int missed = 0;
    for (const Figures& r : rows)
        missed += r.verdict == 0;
    std::printf("\n%s\n", missed ? (std::to_string(missed) + " target(s) missed").c_str()
                                 : "all targets met");
    return 0;
}
