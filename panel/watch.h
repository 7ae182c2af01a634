#pragma once

#include "modbus/reply_times.h"
#include "panel/command.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// A value watched over time: the polls' timetable, what the polls add up to, and what the line
// needs.

// The polls' timetable on a steady clock: slot k at start + k * interval, so that an hour of polls
// does not drift. A poll that overruns its slot is followed at once by the next one; slots that
// passed meanwhile are skipped, not made up. Interval 0: as fast as the line allows.
class Schedule
{
public:
    Schedule(double start, double interval) : m_start(start), m_interval(interval) {}

    // When the next poll is due.
    double Due() const { return m_start + static_cast<double>(m_slot) * m_interval; }
    // A poll ended at `now`.
    void Polled(double now);
    // Polls that started after their slot, and slots that passed without a poll.
    std::size_t Late() const { return m_late; }
    std::size_t Skipped() const { return m_skipped; }

private:
    double m_start;
    double m_interval;
    std::size_t m_slot = 0;
    std::size_t m_late = 0;
    std::size_t m_skipped = 0;
};

// What the polls of a watch add up to.
struct WatchStats
{
    std::size_t polls = 0;
    std::size_t answered = 0; // a value
    std::size_t noAnswer = 0;
    std::size_t crcError = 0;
    std::size_t exceptions = 0;
    std::size_t other = 0; // a wrong reply, a port that failed
    ReplyTimes replies;    // of every poll that got a whole reply, a value or an exception
    // The first value's minimum, mean and maximum over the answered polls with a number.
    std::size_t values = 0;
    double valueMin = 0;
    double valueMax = 0;
    double valueSum = 0;

    // One poll: its outcome, and its first value where it has a number.
    void Add(const Outcome& outcome, std::optional<double> value);
};

// The wait a line needs, from its reply times: three times the slowest reply, rounded up to a
// step of 1-2-3-5, at least 0.02 s. "every reply was whole within 14.2 ms; a --wait of 0.05 s
// keeps a margin of three".
std::string WaitAdvice(const ReplyTimes& replies);
