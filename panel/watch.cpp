#include "panel/watch.h"

#include "panel/detail.h"

#include <algorithm>
#include <cmath>
#include <cstdio>


void Schedule::Polled(double now)
{
    ++m_slot;
    if (m_interval <= 0 || now <= Due())
        return;
    ++m_late;
    while (Due() + m_interval <= now) {
        ++m_slot;
        ++m_skipped;
    }
}

void WatchStats::Add(const Outcome& outcome, std::optional<double> value)
{
    ++polls;
    switch (outcome.result) {
    case Result::Value:
        ++answered;
        break;
    case Result::NoAnswer:
        ++noAnswer;
        break;
    case Result::CrcError:
        ++crcError;
        break;
    case Result::Exception:
        ++exceptions;
        break;
    default:
        ++other;
        break;
    }
    const bool whole = outcome.result == Result::Value || outcome.result == Result::Exception;
    if (whole && outcome.timing)
        replies.Add(outcome.timing->last);
    if (outcome.result == Result::Value && value && std::isfinite(*value)) {
        valueMin = values == 0 ? *value : std::min(valueMin, *value);
        valueMax = values == 0 ? *value : std::max(valueMax, *value);
        valueSum += *value;
        ++values;
    }
}

std::string WaitAdvice(const ReplyTimes& replies)
{
    if (replies.Count() == 0)
        return "no reply came, so there is nothing to measure: check the station, speed and "
               "parity, or give a longer --wait";
    constexpr double kMargin = 3;
    constexpr double kSteps[] = {0.02, 0.03, 0.05, 0.1, 0.2, 0.3, 0.5, 1, 2, 3, 5, 10, 20, 30, 60};
    const double needed = kMargin * replies.Max();
    const double* step = std::find_if(std::begin(kSteps), std::end(kSteps),
                                      [&](double s) { return s >= needed; });
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.1f", replies.Max() * 1000);
    const std::string within = std::string(replies.Count() == 1 ? "the reply was" : "every reply was") +
                               " whole within " + ms + " ms";
    if (step == std::end(kSteps))
        return within + "; no --wait up to 60 s keeps a margin of three";
    return within + "; a --wait of " + SecondsText(*step) + " s keeps a margin of three";
}
