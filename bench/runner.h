#pragma once

#include "probes.h"

#include <string>
#include <vector>

class MainWindow;
class QLabel;
class QLineEdit;
class QPushButton;

struct Samples
{
    std::vector<double> wall;      // click to the button enabled again
    std::vector<double> sendToEnd; // the request's write(2) to the button enabled again
    std::vector<double> toSend;    // click to the request's write(2): opening the port and so on
    double cpu = 0;                // user + system inside the clicks
};

// Clicks through the commands from the event loop, so that between commands the window runs
// as it would with an operator.
class Runner
{
public:
    Runner(MainWindow& window, int commands, int probeMs);

    const std::string& Error() const { return m_error; }

    // Queues the first command; the event loop exits with 0 after the last, 1 on a failure.
    void Start();

    Samples reads, writes;
    int fdsBefore = 0, fdsAfter = 0;
    long rssBefore = 0, rssHalfway = 0, rssAfter = 0;
    CpuSeconds cpuBefore, cpuAfter;
    double lateness = 0;
    int firings = 0;

private:
    // One write and one read of warm-up (the first opening creates Qt's lock and settings
    // state), then the measured pairs.
    static constexpr int kWarmUpPairs = 1;

    void Step();
    void Fail(const std::string& what);

    int m_commands;
    LatencyProbe m_probe;
    QPushButton* m_read = nullptr;
    QPushButton* m_write = nullptr;
    QLabel* m_rxData = nullptr;
    QLineEdit* m_writeData = nullptr;
    int m_step = 0;
    std::string m_error;
};
