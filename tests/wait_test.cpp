// The real wait: the steady clock and the Qt event loop of this thread. Whatever the window or
// the time of day does meanwhile, the wait never ends before its time nor long after it, lets
// window events run, and sleeps rather than spins (its passes through the event loop stay few).
#include "qt_wait.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

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
        const WaitServices services{&SteadySeconds,
                                    [&](double maxSeconds) {
                                        ++passes;
                                        EXPECT_LE(maxSeconds, c.replyWait) << c.name;
                                        RunPendingEvents(maxSeconds);
                                    },
                                    {}};
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(AwaitReply(c.replyWait, services), WaitEnd::Elapsed) << c.name;
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

// The time of day is stepped during the wait with libfaketime, which this test preloads into a
// second run of itself: the steady clock and Qt's timers stay real.
constexpr const char* kFakeTime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";

TEST(RealWait, TheTimeOfDayMayStepWithoutEndingOrStretchingIt)
{
    const char* stamp = std::getenv("FAKETIME_TIMESTAMP_FILE");
    if (!stamp) {
        const std::string file = testing::TempDir() + "vek-faketime";
        std::ofstream(file) << "+0\n";
        // Bounded: a wait on the time of day would last an hour after a step back.
        const std::string run =
            "timeout 20 env FAKETIME_TIMESTAMP_FILE=" + file +
            " FAKETIME_NO_CACHE=1 FAKETIME_DONT_FAKE_MONOTONIC=1 ASAN_OPTIONS=verify_asan_link_order=0"
            " LD_PRELOAD=" + kFakeTime + " /proc/" + std::to_string(getpid()) +
            "/exe --gtest_filter=RealWait.TheTimeOfDayMayStepWithoutEndingOrStretchingIt";
        ASSERT_EQ(std::system(run.c_str()), 0) << run;
        return;
    }
    // A step forward (daylight saving, NTP) and one back (a clock set by hand), a few
    // milliseconds into the wait.
    for (const char* step : {"+3600", "-3600", "+86000"}) {
        std::ofstream(stamp) << "+0\n";
        QTimer::singleShot(20, [&] { std::ofstream(stamp) << step << "\n"; });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(AwaitReply(0.2, QtWaitServices()), WaitEnd::Elapsed);
        const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited.count(), 0.2) << step;
        EXPECT_LT(waited.count(), 0.35) << step;
    }
}

} // namespace
