#include "probes.h"

#include <dirent.h>
#include <dlfcn.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

double MonotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

CpuSeconds ProcessCpu()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& tv) {
        return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
    };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

int OpenFds()
{
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    closedir(dir);
    return count - 1; // the directory's own descriptor
}

long VmRssKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

std::string LockDirectoryNote()
{
    // Qt SerialPort's first choice; it falls back to other directories only without it.
    const char* dir = "/var/lock";
    char real[PATH_MAX];
    struct statfs fs = {};
    if (access(dir, R_OK | W_OK) != 0 || !realpath(dir, real) || statfs(real, &fs) != 0)
        return "not in /var/lock";
    const std::string where =
        std::string(dir) + (std::string(real) != dir ? " -> " + std::string(real) : "");
    if (fs.f_type == TMPFS_MAGIC)
        return where + ", on tmpfs";
    return where + ", on a disk file system: each open and close writes, syncs and removes a file";
}

namespace {

std::atomic<double> g_lastSend{0};

// Qt wakes its event loop by writing the number 1 to an eventfd; no request frame is that.
bool IsWakeUp(const void* data)
{
    std::uint64_t value = 0;
    std::memcpy(&value, data, sizeof value);
    return value == 1;
}

} // namespace

double LastSendSeconds()
{
    return g_lastSend.load();
}

// Qt SerialPort hands the request to the driver with write(2). Defining write here makes the
// dynamic linker bind Qt's call to this one, which times the real path without a hook in the
// product. Only 8-byte writes to a terminal are noted: Qt's own wake-ups write 8 bytes to an
// eventfd, and X traffic goes through other calls.
extern "C" ssize_t write(int fd, const void* data, size_t size)
{
    using Write = ssize_t (*)(int, const void*, size_t);
    static const Write real = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "write"));
    const ssize_t written = real(fd, data, size);
    if (size == 8 && written == 8 && !IsWakeUp(data) && isatty(fd))
        g_lastSend.store(MonotonicSeconds());
    return written;
}

LatencyProbe::LatencyProbe(int intervalMs) : m_interval(intervalMs / 1000.0)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(intervalMs);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Fired(); });
}

void LatencyProbe::Start()
{
    m_worst = 0;
    m_firings = 0;
    m_due = MonotonicSeconds() + m_interval;
    m_timer.start();
}

void LatencyProbe::Stop()
{
    m_timer.stop();
}

void LatencyProbe::Fired()
{
    const double now = MonotonicSeconds();
    ++m_firings;
    if (now - m_due > m_worst)
        m_worst = now - m_due;
    // Qt's precise timer keeps its schedule, and restarts it from now once it has fallen a
    // whole interval behind.
    m_due += m_interval;
    if (m_due < now)
        m_due = now + m_interval;
}
