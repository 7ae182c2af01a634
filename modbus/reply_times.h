#pragma once

#include <array>
#include <cstddef>

// Reply times in constant memory, however long a watch or a listen runs: exact minimum, maximum
// and last, and quantiles to within half a percent, from a histogram of one-percent steps
// (0.01 ms to about 80 s).
class ReplyTimes
{
public:
    void Add(double seconds);
    std::size_t Count() const { return m_count; }
    double Min() const { return m_min; }
    double Max() const { return m_max; }
    double Last() const { return m_last; }
    // The nearest-rank quantile (0.5 the median), 0 < q <= 1; 0 with no time.
    double Quantile(double q) const;

private:
    static constexpr std::size_t kBins = 1600;
    std::array<std::size_t, kBins> m_bins{};
    std::size_t m_count = 0;
    double m_min = 0;
    double m_max = 0;
    double m_last = 0;
};
