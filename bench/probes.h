#pragma once

#include <QTimer>

#include <string>

// What the benchmark reads about its own process: clocks, CPU, descriptors, memory, and the
// moment the last request left for the line.

// CLOCK_MONOTONIC in seconds; the clock the start-up child reports in too.
double MonotonicSeconds();

struct CpuSeconds
{
    double user = 0;
    double system = 0;
    double Total() const { return user + system; }
};
// User and system time of the whole process so far (getrusage).
CpuSeconds ProcessCpu();

int OpenFds();  // entries of /proc/self/fd; -1 when unreadable
long VmRssKb(); // VmRSS of /proc/self/status; -1 when unreadable

// Where Qt SerialPort puts the lock file that it creates, syncs and removes on every open and
// close, and whether that costs disk writes.
std::string LockDirectoryNote();

// Monotonic time at which the last 8-byte write(2) to a terminal returned, 0 before the first.
// That is the request frame leaving Qt SerialPort for the line.
double LastSendSeconds();

// A precise repeating timer that notes how late it fires: what any window event suffers while
// the event loop is held up.
class LatencyProbe
{
public:
    explicit LatencyProbe(int intervalMs);
    void Start();
    void Stop();
    double WorstLatenessSeconds() const { return m_worst; }
    int Firings() const { return m_firings; }

private:
    void Fired();

    QTimer m_timer;
    double m_interval;
    double m_due = 0;
    double m_worst = 0;
    int m_firings = 0;
};
