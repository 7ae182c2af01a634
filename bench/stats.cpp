#include "stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <sys/utsname.h>
#include <unistd.h>

namespace {

double Rank(const std::vector<double>& sorted, double fraction)
{
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * sorted.size()));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

} // namespace

Summary Summarise(std::vector<double> samples)
{
    Summary s;
    s.count = samples.size();
    if (samples.empty())
        return s;
    std::sort(samples.begin(), samples.end());
    s.min = samples.front();
    s.median = Rank(samples, 0.5);
    s.p99 = Rank(samples, 0.99);
    s.max = samples.back();
    return s;
}

double Percentile(std::vector<double> samples, double fraction)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    return Rank(samples, fraction);
}

std::string MachineNote()
{
    std::string model = "unknown CPU";
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);)
        if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    utsname host{};
    uname(&host);
    double load[1] = {0};
    getloadavg(load, 1);
    char text[256];
    std::snprintf(text, sizeof text, "%ld CPUs, %s, Linux %s; load average %.2f at the start",
                  sysconf(_SC_NPROCESSORS_ONLN), model.c_str(), host.release, load[0]);
    return text;
}
