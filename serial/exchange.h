#pragma once

#include "serial/serial_port.h"

#include <functional>

// The bytes of one reply with the count taken before them; n never exceeds bytes.size().
struct RxBytes
{
    std::size_t n = 0;
    Bytes bytes;
};

// The count of waiting bytes, then every waiting byte. A byte that arrives between the two is
// taken but not counted. Nothing when the port fails.
std::optional<RxBytes> TakeInput(SerialPort& port);

// Seconds on a clock that only moves forward, at the pace of real time, whatever is done to the
// time of day (daylight saving, an NTP step, a clock set by hand, midnight).
double SteadySeconds();

// The clock and the event pump of the wait, replaceable so that tests can drive time.
struct WaitServices
{
    // A steady clock in seconds; SteadySeconds on every platform.
    std::function<double()> clock = &SteadySeconds;
    // Runs pending window events; may sleep for an event, but never longer than the given
    // number of seconds.
    std::function<void(double maxSeconds)> runPendingEvents;
    // True once the command has been given up (its window closed); ends the wait at once.
    std::function<bool()> abandoned;
};

// How a wait ended: its time was up, what it waited for came, or the command was given up.
enum class WaitEnd { Elapsed, Complete, Abandoned };

// Waits replyWait seconds from now while window events run. With `complete`, asked after every
// pass of the events, the wait ends as soon as it says so.
WaitEnd AwaitReply(double replyWait, const WaitServices& services,
                   const std::function<bool()>& complete = {});
