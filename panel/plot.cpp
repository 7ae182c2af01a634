#include "panel/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

namespace {

constexpr double kWidth = 900;
constexpr double kLeft = 80;
constexpr double kRight = 860;
constexpr const char* kColours[] = {"#1f5fbf", "#2e8b57", "#b8860b", "#8a2be2", "#d2691e"};

std::string Number(double x)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", x);
    return text;
}

std::string Escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// One panel's frame: its y range over [top, bottom], its ticks and label, and the time ticks.
struct Panel
{
    double top;
    double bottom;
    double low;
    double high;

    double Y(double v) const
    {
        return high > low ? bottom - (v - low) / (high - low) * (bottom - top) : (top + bottom) / 2;
    }
};

// The lowest and highest of the finite numbers that `of` gives, widened where they are one.
std::pair<double, double> Range(const std::vector<PlotPoint>& points,
                                const std::function<void(const PlotPoint&, std::vector<double>&)>& of)
{
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    std::vector<double> xs;
    for (const PlotPoint& p : points) {
        xs.clear();
        of(p, xs);
        for (const double x : xs)
            if (std::isfinite(x)) {
                low = std::min(low, x);
                high = std::max(high, x);
            }
    }
    if (!std::isfinite(low))
        return {0, 1};
    if (high - low < 1e-12)
        return {low - 1, high + 1};
    const std::vector<double> ticks = Ticks(low, high, 5);
    return {std::min(low, ticks.front()), std::max(high, ticks.back())};
}

std::string Axis(const Panel& panel, const std::string& label)
{
    std::string svg = "<g class=\"axis\" font-size=\"12\" fill=\"#333\">\n";
    for (const double t : Ticks(panel.low, panel.high, 5)) {
        if (t < panel.low - 1e-9 || t > panel.high + 1e-9)
            continue;
        const std::string y = Number(panel.Y(t));
        svg += "<line x1=\"" + Number(kLeft) + "\" x2=\"" + Number(kRight) + "\" y1=\"" + y +
               "\" y2=\"" + y + "\" stroke=\"#ddd\"/>\n";
        svg += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(panel.Y(t) + 4) +
               "\" text-anchor=\"end\">" + Number(t) + "</text>\n";
    }
    svg += "<text transform=\"translate(18," + Number((panel.top + panel.bottom) / 2) +
           ") rotate(-90)\" text-anchor=\"middle\">" + Escaped(label) + "</text>\n";
    svg += "<rect x=\"" + Number(kLeft) + "\" y=\"" + Number(panel.top) + "\" width=\"" +
           Number(kRight - kLeft) + "\" height=\"" + Number(panel.bottom - panel.top) +
           "\" fill=\"none\" stroke=\"#999\"/>\n";
    return svg + "</g>\n";
}

} // namespace

void PlotRecord::Add(PlotPoint point)
{
    if (m_seen++ % m_stride != 0)
        return;
    m_points.push_back(std::move(point));
    if (m_points.size() < m_limit)
        return;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_points.size(); i += 2)
        m_points[kept++] = std::move(m_points[i]);
    m_points.resize(kept);
    m_stride *= 2;
}

std::vector<double> Ticks(double low, double high, int count)
{
    if (!(high > low) || !std::isfinite(low) || !std::isfinite(high) || count < 1)
        return {low};
    const double rough = (high - low) / count;
    const double power = std::pow(10, std::floor(std::log10(rough)));
    double step = power;
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= rough) {
            step = m * power;
            break;
        }
    std::vector<double> ticks;
    for (double t = std::floor(low / step) * step; t <= high + step * 0.5 && ticks.size() < 50;
         t += step)
        ticks.push_back(std::abs(t) < step * 1e-9 ? 0 : t);
    return ticks;
}

std::string PlotSvg(const std::vector<PlotPoint>& points, const std::vector<std::string>& series,
                    const std::string& title)
{
    const double end = points.empty() ? 1 : std::max(points.back().time, 1e-3);
    // Time in the unit that keeps its numbers short.
    const double unit = end >= 7200 ? 3600 : end >= 120 ? 60 : 1;
    const char* unitName = unit == 3600 ? "h" : unit == 60 ? "min" : "s";
    const auto x = [&](double t) { return kLeft + t / end * (kRight - kLeft); };

    const auto [vLow, vHigh] = Range(points, [](const PlotPoint& p, std::vector<double>& xs) {
        xs.insert(xs.end(), p.values.begin(), p.values.end());
    });
    const auto [rLow, rHigh] = Range(points, [](const PlotPoint& p, std::vector<double>& xs) {
        xs.push_back(p.replyMs);
    });
    const Panel values{54, 310, vLow, vHigh};
    const Panel replies{360, 500, std::min(0.0, rLow), rHigh};

    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(kWidth) +
                      "\" height=\"560\" viewBox=\"0 0 900 560\" font-family=\"sans-serif\">\n"
                      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
                      "<text x=\"450\" y=\"24\" text-anchor=\"middle\" font-size=\"15\">" +
                      Escaped(title) + "</text>\n";
    svg += Axis(values, "value") + Axis(replies, "reply (ms)");
    // Time ticks under both panels.
    svg += "<g class=\"time\" font-size=\"12\" fill=\"#333\">\n";
    for (const double t : Ticks(0, end / unit, 8)) {
        if (t * unit > end + 1e-9)
            continue;
        const std::string at = Number(x(t * unit));
        svg += "<line x1=\"" + at + "\" x2=\"" + at + "\" y1=\"54\" y2=\"500\" stroke=\"#eee\"/>\n";
        svg += "<text x=\"" + at + "\" y=\"518\" text-anchor=\"middle\">" + Number(t) + "</text>\n";
    }
    svg += "<text x=\"470\" y=\"545\" text-anchor=\"middle\">time (" + std::string(unitName) +
           ")</text>\n</g>\n";

    double legend = kLeft;
    for (std::size_t s = 0; s < series.size(); ++s) {
        const char* colour = kColours[s % std::size(kColours)];
        std::string line;
        for (const PlotPoint& p : points)
            if (s < p.values.size() && std::isfinite(p.values[s]))
                line += Number(x(p.time)) + "," + Number(values.Y(p.values[s])) + " ";
        svg += "<polyline class=\"value\" fill=\"none\" stroke=\"" + std::string(colour) +
               "\" stroke-width=\"1.5\" points=\"" + line + "\"/>\n";
        // The legend above the values, one name after the other.
        svg += "<text x=\"" + Number(legend) + "\" y=\"44\" font-size=\"12\" fill=\"" + colour +
               "\">" + Escaped(series[s]) + "</text>\n";
        legend += 8.0 * static_cast<double>(series[s].size()) + 16;
    }
    std::string replyLine;
    std::string failed;
    for (const PlotPoint& p : points) {
        if (std::isfinite(p.replyMs))
            replyLine += Number(x(p.time)) + "," + Number(replies.Y(p.replyMs)) + " ";
        if (p.failed)
            failed += "<path d=\"M" + Number(x(p.time) - 3) + " 303l6 6m0 -6l-6 6\"/>\n";
    }
    svg += "<polyline class=\"reply\" fill=\"none\" stroke=\"#555\" stroke-width=\"1\" points=\"" +
           replyLine + "\"/>\n";
    if (!failed.empty())
        svg += "<text x=\"" + Number(kRight) + "\" y=\"44\" text-anchor=\"end\" font-size=\"12\" "
               "fill=\"#d00\">\u00d7 no answer or an error</text>\n";
    svg += "<g class=\"failed\" stroke=\"#d00\" stroke-width=\"1.5\">\n" + failed + "</g>\n";
    return svg + "</svg>\n";
}
