#include "exchange.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

int PortFromSelectors(const Selectors& s)
{
    if (s.Com5)
        return 5;
    if (s.Com4)
        return 4;
    if (s.Com3)
        return 3;
    if (s.Com2)
        return 2;
    return 1;
}

std::string SettingsFromSelectors(const Selectors& s)
{
    const char* speed = s.SPD192 ? "19200," : s.SPD96 ? "9600," : "38400,";
    const char* parity = s.Even1 ? "E," : s.Odd1 ? "O," : "N,";
    return std::string(speed) + parity + "8,1";
}

bool OpenPort(SerialPort& port, int portNo, const std::string& commSettings)
{
    return port.Open(portNo, commSettings);
}

bool SendFrame(SerialPort& port, std::span<const std::uint8_t> frame)
{
    return port.Send(frame);
}

void ClosePort(SerialPort& port)
{
    port.Close();
}

std::optional<RxBytes> TakeInput(SerialPort& port)
{
    // The count comes first; a byte arriving between the two calls is taken but not counted.
    const std::optional<std::size_t> n = port.BytesWaiting();
    if (!n)
        return std::nullopt;
    std::optional<Bytes> bytes = port.TakeAll();
    if (!bytes)
        return std::nullopt;
    return RxBytes{std::min(*n, bytes->size()), std::move(*bytes)};
}

bool AwaitReply(double replyWait, const WaitServices& services)
{
    double t0 = services.clockSeconds();
    for (;;) {
        const double now = services.clockSeconds();
        if (!(now < t0 + replyWait))
            return true;
        services.runPendingEvents(t0 + replyWait - now);
        if (services.abandoned && services.abandoned())
            return false;
        // The clock went back (midnight, or set back by hand): the whole wait starts again.
        if ((t0 + replyWait) - services.clockSeconds() > replyWait)
            t0 = services.clockSeconds();
    }
}

double ClockSeconds()
{
    // Sub-millisecond resolution, so that the wait never ends a rounding step early.
    using namespace std::chrono;
    const double utc = duration<double>(system_clock::now().time_since_epoch()).count();
    const double local = utc + QDateTime::currentDateTime().offsetFromUtc();
    return std::fmod(local, 86400.0);
}

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

WaitServices RealWaitServices(std::function<bool()> abandoned)
{
    return WaitServices{&ClockSeconds, &RunPendingEvents, std::move(abandoned)};
}
