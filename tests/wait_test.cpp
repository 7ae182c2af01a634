// The real wait: the wall clock and the Qt event loop of this thread. Whatever the window does
// meanwhile, the wait never ends before its time nor long after it, lets window events run, and
// sleeps rather than spins (its passes through the event loop stay few).
#include "qt_wait.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>

namespace {

struct WaitCase
{
    const char* name;
    double replyWait;
    int eventEveryMs; // a window timer firing during the wait; 0: an idle window
    int maxPasses;    // a spinning wait makes thousands
};

TEST(RealWait, NeverEndsEarlyRunsEventsAndSleeps)
{
    const WaitCase cases[] = {
        {"idle window, the commands' wait", 0.2, 0, 10},
        {"under a millisecond", 0.0004, 0, 10},
        {"a millisecond and a half", 0.0015, 0, 10},
        {"just over whole milliseconds", 0.0301, 0, 10},
        {"a window event every 3 ms", 0.05, 3, 60},
    };
    for (const WaitCase& c : cases) {
        int fired = 0;
        QTimer window;
        window.setTimerType(Qt::PreciseTimer);
        QObject::connect(&window, &QTimer::timeout, [&fired] { ++fired; });
        if (c.eventEveryMs > 0)
            window.start(c.eventEveryMs);

        int passes = 0;
        const WaitServices services{&ClockSeconds,
                                    [&](double maxSeconds) {
                                        ++passes;
                                        EXPECT_LE(maxSeconds, c.replyWait) << c.name;
                                        RunPendingEvents(maxSeconds);
                                    },
                                    {}};
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(AwaitReply(c.replyWait, services)) << c.name;
        const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;

        EXPECT_GE(waited.count(), c.replyWait) << c.name;
        // Loose enough for a busy machine, tight enough for a pass that sleeps a whole 0.2 s.
        EXPECT_LT(waited.count(), c.replyWait + 0.15) << c.name;
        EXPECT_LE(passes, c.maxPasses) << c.name;
        if (c.eventEveryMs > 0) {
            EXPECT_GE(fired, 2) << c.name << ": window events must run during the wait";
        }
    }
}

} // namespace
