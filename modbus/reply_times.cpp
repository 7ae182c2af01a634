#include "modbus/reply_times.h"

#include <algorithm>
#include <cmath>

namespace {

// Bin i holds times from kLeast * kRatio^i on.
constexpr double kLeast = 1e-5;
constexpr double kRatio = 1.01;

} // namespace

void ReplyTimes::Add(double seconds)
{
    const double bin = seconds > kLeast ? std::log(seconds / kLeast) / std::log(kRatio) : 0;
    ++m_bins[std::min(static_cast<std::size_t>(bin), kBins - 1)];
    m_min = m_count == 0 ? seconds : std::min(m_min, seconds);
    m_max = m_count == 0 ? seconds : std::max(m_max, seconds);
    m_last = seconds;
    ++m_count;
}

double ReplyTimes::Quantile(double q) const
{
    if (m_count == 0)
        return 0;
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(m_count)));
    std::size_t seen = 0;
    std::size_t bin = 0;
    for (; bin + 1 < kBins; ++bin) {
        seen += m_bins[bin];
        if (seen >= std::max<std::size_t>(rank, 1))
            break;
    }
    // The bin's middle, within what was seen.
    const double middle = kLeast * std::pow(kRatio, static_cast<double>(bin) + 0.5);
    return std::clamp(middle, m_min, m_max);
}
