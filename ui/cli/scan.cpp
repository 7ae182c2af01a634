#include "scan.h"

#include "panel/detail.h"
#include "panel/traffic_log.h"
#include "serial/device.h"
#include "serial/port_error.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>

namespace {

std::string Duration(double seconds)
{
    const long s = std::lround(seconds);
    return s < 60 ? std::to_string(s) + " s"
                  : std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
}

// The progress line on a terminal: tried, total, found, time left; cleared before a result.
class Progress
{
public:
    Progress(bool on, std::size_t total) : m_on(on), m_total(total) {}

    void Show(std::size_t tried, std::size_t found) const
    {
        if (!m_on)
            return;
        const double perTry = tried ? (SteadySeconds() - m_start) / tried : 0;
        const std::string line = "tried " + std::to_string(tried) + " of " +
                                 std::to_string(m_total) + ", found " + std::to_string(found) +
                                 ", about " + Duration(perTry * (m_total - tried)) + " left";
        std::fprintf(stderr, "\r%-70s", line.c_str());
        std::fflush(stderr);
    }
    void Clear() const
    {
        if (m_on)
            std::fprintf(stderr, "\r%70s\r", "");
    }
    double Elapsed() const { return SteadySeconds() - m_start; }

private:
    bool m_on;
    std::size_t m_total;
    double m_start = SteadySeconds();
};

void PrintFound(const Options& options, const Command& command, const Outcome& outcome)
{
    // A device server's line has the settings the server gives it, whatever was tried.
    const bool server = IsNetworkDevice(command.device);
    const std::string settings = server ? "" : SettingsWords(command.settings);
    std::string line;
    if (options.json)
        line = JsonLine("scan", command, outcome, false);
    else if (outcome.result == Result::CrcError)
        line = "something answers" + (server ? "" : " at " + settings) +
               ", but not correctly (station " + std::to_string(command.station) + ": " +
               AnswerText(command, outcome) + ")";
    else
        line = "station " + std::to_string(command.station) + (server ? "" : ", " + settings) +
               ": " + AnswerText(command, outcome);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

} // namespace

std::vector<ScanTry> ScanOrder(const Options& options)
{
    struct Ranked
    {
        LineSettings settings;
        std::tuple<std::size_t, std::size_t, std::size_t> rank;
    };
    std::vector<Ranked> ranked;
    // Through a device server only the stations are worth trying.
    const bool server = IsNetworkDevice(options.command.device);
    for (std::size_t s = 0; s < (server ? 1 : options.speeds.size()); ++s)
        for (std::size_t p = 0; p < (server ? 1 : options.parities.size()); ++p) {
            const LineSettings settings{options.speeds[s], options.parities[p]};
            if (std::none_of(ranked.begin(), ranked.end(),
                             [&](const Ranked& r) { return r.settings == settings; }))
                ranked.push_back({settings, {std::max(s, p), s + p, p}});
        }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const Ranked& a, const Ranked& b) { return a.rank < b.rank; });
    // Most devices keep a low station and a common setting; finding them fast matters more than
    // the order of the rest.
    constexpr int kFirstStations = 20;
    const int early = std::min<int>(options.lastStation, options.firstStation + kFirstStations - 1);
    const auto common = [](const Ranked& r) { return std::get<0>(r.rank) <= 1; };
    std::vector<ScanTry> order;
    for (const Ranked& r : ranked)
        for (int station = options.firstStation; common(r) && station <= early; ++station)
            order.push_back({r.settings, station});
    for (const Ranked& r : ranked)
        for (int station = common(r) ? early + 1 : options.firstStation;
             station <= options.lastStation; ++station)
            order.push_back({r.settings, station});
    return order;
}

ExitStatus Scan(Line& line, const Options& options, bool progress)
{
    const std::vector<ScanTry> order = ScanOrder(options);
    const std::size_t total = order.size();
    const Progress shown(progress, total);
    std::size_t tried = 0;
    std::size_t found = 0;
    std::vector<LineSettings> garbledAt; // told once a setting
    std::optional<ExitStatus> stopped;
    std::string why;
    const auto interrupted = [&] { return line.wait.abandoned && line.wait.abandoned(); };
    for (const ScanTry& next : order) {
        if (stopped || (found > 0 && !options.all) || interrupted())
            break;
        shown.Show(tried, found);
        Command command = options.command;
        command.settings = next.settings;
        command.station = static_cast<std::uint8_t>(next.station);
        const Outcome outcome = Run(line, command);
        tried += outcome.result == Result::Abandoned ? 0 : 1;
        if (const auto error = LogCommand(options.portName, command, outcome))
            std::fprintf(stderr, "vek-cli: log not written: %s\n", error->c_str());
        switch (outcome.result) {
        case Result::Abandoned:
            // Given up during its wait, the command leaves the port open.
            line.port.Close();
            break;
        case Result::PortError:
            stopped = kExitPortError;
            why = "stopped, the port failed: " + PortErrorText(outcome.error);
            break;
        case Result::Value:
        case Result::Exception:
            shown.Clear();
            PrintFound(options, command, outcome);
            ++found;
            break;
        case Result::CrcError:
            if (std::find(garbledAt.begin(), garbledAt.end(), next.settings) ==
                garbledAt.end()) {
                shown.Clear();
                PrintFound(options, command, outcome);
                garbledAt.push_back(next.settings);
            }
            break;
        default:
            break;
        }
    }
    const bool garbled = !garbledAt.empty();
    if (!stopped && interrupted()) {
        stopped = kExitInterrupted;
        why = "interrupted";
    }
    shown.Clear();
    if (!stopped)
        why = found > 0 ? std::to_string(found) + " found"
              : garbled ? "something answers, but never correctly"
                        : "nothing answered";
    const double seconds = shown.Elapsed();
    std::fprintf(stderr, "vek-cli: tried %zu of %zu in %.1f s (%.2f a second): %s\n", tried, total,
                 seconds, seconds > 0 ? tried / seconds : 0.0, why.c_str());
    if (stopped)
        return *stopped;
    return found > 0 ? kExitOk : garbled ? kExitCrcError : kExitNoAnswer;
}
