// A watch's timetable, statistics, wait advice and plot, without a line or a terminal.
#include "panel/plot.h"
#include "panel/watch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

namespace {

TEST(Schedule, KeepsItsSlotsWithoutDriftAndSkipsWhatAPollOverran)
{
    const struct
    {
        double interval;
        std::vector<double> ends; // when each poll ended
        double due;               // when the next one is due
        std::size_t late;
        std::size_t skipped;
    } cases[] = {
        {1, {100.2, 101.9, 102.99}, 103, 0, 0},
        // The second poll ran past two slots: the next starts at once, the one between is skipped.
        {1, {100.2, 103.5}, 103, 1, 1},
        {1, {100.2, 103.5, 103.6}, 104, 1, 1},
        {0.25, {100.1, 100.6}, 100.5, 1, 0},
        {0, {100.2, 100.4}, 100, 0, 0},
    };
    for (const auto& c : cases) {
        Schedule schedule(100, c.interval);
        for (const double end : c.ends)
            schedule.Polled(end);
        EXPECT_DOUBLE_EQ(schedule.Due(), c.due) << c.interval << " " << c.ends.back();
        EXPECT_EQ(schedule.Late(), c.late) << c.interval << " " << c.ends.back();
        EXPECT_EQ(schedule.Skipped(), c.skipped) << c.interval << " " << c.ends.back();
    }
    // An hour of polls that each take 0.3 s of their second: the last is due on the hour.
    Schedule hour(0, 1);
    for (int i = 0; i < 3600; ++i)
        hour.Polled(hour.Due() + 0.3);
    EXPECT_DOUBLE_EQ(hour.Due(), 3600);
}

TEST(WatchStats, ReplyTimesAndTheWaitTheyNeed)
{
    const struct
    {
        std::vector<double> ms;
        double median;
        double p99;
        const char* advice;
    } cases[] = {
        {{14.2}, 14.2, 14.2, "the reply was whole within 14.2 ms; a --wait of 0.05 s keeps"},
        {{}, 0, 0, "no reply came"},
        {{5, 6, 7, 8, 9, 10, 11, 12, 13, 200}, 9, 200, "within 200.0 ms; a --wait of 1 s keeps"},
        {{25000}, 25000, 25000, "no --wait up to 60 s keeps a margin of three"},
    };
    for (const auto& c : cases) {
        ReplyTimes times;
        for (const double ms : c.ms)
            times.Add(ms / 1000);
        EXPECT_NEAR(times.Quantile(0.5) * 1000, c.median, c.median * 0.006) << c.advice;
        EXPECT_NEAR(times.Quantile(0.99) * 1000, c.p99, c.p99 * 0.006) << c.advice;
        EXPECT_NE(WaitAdvice(times).find(c.advice), std::string::npos) << WaitAdvice(times);
    }
    // A hundred thousand times from 0.1 ms to 10 s, in constant memory: the quantiles within half a
    // percent.
    ReplyTimes many;
    for (int i = 1; i <= 100000; ++i)
        many.Add(1e-4 * std::pow(1e5, i / 100000.0));
    EXPECT_NEAR(many.Quantile(0.5), 1e-4 * std::pow(1e5, 0.5), 1e-4 * std::pow(1e5, 0.5) * 0.006);
    EXPECT_DOUBLE_EQ(many.Max(), 10);

    WatchStats stats;
    Outcome outcome;
    for (const Result result : {Result::Value, Result::Value, Result::NoAnswer, Result::CrcError,
                                Result::Exception, Result::OtherReply}) {
        outcome.result = result;
        stats.Add(outcome, result == Result::Value ? std::optional(stats.answered + 1.0) : 7.0);
    }
    EXPECT_EQ(stats.polls, 6u);
    EXPECT_EQ(stats.answered + stats.noAnswer + stats.crcError + stats.exceptions + stats.other, 6u);
    EXPECT_EQ(stats.values, 2u); // a failed poll's number is none of the value's
    EXPECT_DOUBLE_EQ(stats.valueSum, 3);
}

TEST(Plot, PointsFollowTheValuesAndFailedPollsAreMarked)
{
    std::vector<PlotPoint> points;
    for (int i = 0; i < 20; ++i)
        points.push_back({i * 0.5, {i % 7 * 1.5, 100.0 - i}, i % 5 ? 10.0 + i : NAN, i % 5 == 0});
    const std::string svg = PlotSvg(points, {"40001", "40002 <b>"}, "a & b");
    // Each value line: its y is the same falling straight function of the value everywhere.
    const std::regex polyline("class=\"value\"[^>]*points=\"([^\"]*)\"");
    std::size_t series = 0;
    for (auto m = std::sregex_iterator(svg.begin(), svg.end(), polyline); m != std::sregex_iterator();
         ++m, ++series) {
        std::istringstream xy((*m)[1].str());
        std::vector<double> ys;
        double x, y;
        char comma;
        while (xy >> x >> comma >> y)
            ys.push_back(y);
        ASSERT_EQ(ys.size(), points.size());
        const double v0 = points[0].values[series], v1 = points[1].values[series];
        const double slope = (ys[1] - ys[0]) / (v1 - v0);
        EXPECT_LT(slope, 0);
        for (std::size_t i = 0; i < ys.size(); ++i)
            EXPECT_NEAR(ys[i], ys[0] + slope * (points[i].values[series] - v0), 0.01) << i;
    }
    EXPECT_EQ(series, 2u);
    EXPECT_EQ(std::count(svg.begin(), svg.end(), 'M'), 4); // the four failed polls' crosses
    EXPECT_NE(svg.find("40002 &lt;b&gt;"), std::string::npos);
    EXPECT_NE(svg.find(">a &amp; b<"), std::string::npos);
    // Bounded: an hour at a hundred polls a second keeps at most the limit.
    PlotRecord record(100);
    for (int i = 0; i < 360000; ++i)
        record.Add({static_cast<double>(i), {1}, 1, false});
    EXPECT_LE(record.Points().size(), 100u);
    EXPECT_GT(record.Points().back().time, 300000);
}

} // namespace
