#include "qt_wait.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

void RunPendingEvents(double maxSeconds)
{
    // Sleeping in the event loop keeps the wait off the CPU; the timer wakes it at the deadline
    // at the latest, since an idle line and an idle window post no event at all. Qt's timers
    // count whole milliseconds, and rounding up would end every command up to a millisecond
    // late: the loop sleeps the whole milliseconds, and the last fraction of one is slept here
    // once the pending events have run.
    const double seconds = std::clamp(maxSeconds, 0.0, 60.0);
    const double ms = std::floor(seconds * 1000.0);
    if (ms < 1.0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        return;
    }
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.start(static_cast<int>(ms));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

WaitServices QtWaitServices()
{
    return WaitServices{&SteadySeconds, &RunPendingEvents, {}};
}
