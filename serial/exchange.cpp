#include "serial/exchange.h"

#include <algorithm>
#include <chrono>

std::optional<RxBytes> TakeInput(SerialPort& port)
{
    const std::optional<std::size_t> n = port.BytesWaiting();
    if (!n)
        return std::nullopt;
    std::optional<Bytes> bytes = port.TakeAll();
    if (!bytes)
        return std::nullopt;
    return RxBytes{std::min(*n, bytes->size()), std::move(*bytes)};
}

double SteadySeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

WaitEnd AwaitReply(double replyWait, const WaitServices& services,
                   const std::function<bool()>& complete)
{
    // Timed from now, right after the send returned, on a clock that no step of the time of day
    // can end, restart or stretch.
    const double deadline = services.clock() + replyWait;
    for (double now = services.clock(); now < deadline; now = services.clock()) {
        services.runPendingEvents(deadline - now);
        if (services.abandoned && services.abandoned())
            return WaitEnd::Abandoned;
        if (complete && complete())
            return WaitEnd::Complete;
    }
    return WaitEnd::Elapsed;
}
