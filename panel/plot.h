#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A watch's record as a picture: its values and reply times against time, in an SVG file any
// browser opens.

struct PlotPoint
{
    double time = 0;            // seconds since the watch began
    std::vector<double> values; // one a series; NaN where a poll gave none
    double replyMs = 0;         // NaN without a whole reply
    bool failed = false;        // no answer, a wrong CRC, an exception, a wrong reply
};

// The points of a watch in bounded memory: past `limit` points every other one is dropped and
// only every second one kept from then on, so that an hour of fast polls still fits.
class PlotRecord
{
public:
    explicit PlotRecord(std::size_t limit = 4096) : m_limit(limit) {}
    void Add(PlotPoint point);
    const std::vector<PlotPoint>& Points() const { return m_points; }

private:
    std::size_t m_limit;
    std::size_t m_stride = 1;
    std::size_t m_seen = 0;
    std::vector<PlotPoint> m_points;
};

// Tick marks for an axis from `low` to `high`: about `count` of them at 1, 2 or 5 times a power
// of ten.
std::vector<double> Ticks(double low, double high, int count);

// The picture: the values above (one line a series, named by `series`), the reply times below,
// failed polls marked in red on the time axis, with `title` over it.
std::string PlotSvg(const std::vector<PlotPoint>& points, const std::vector<std::string>& series,
                    const std::string& title);
