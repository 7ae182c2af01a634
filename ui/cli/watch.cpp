#include "watch.h"

#include "panel/detail.h"
#include "panel/plot.h"
#include "panel/traffic_log.h"
#include "panel/watch.h"
#include "serial/port_error.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string Num(double x)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", x);
    return text;
}

// What a poll gave: its word, and its values as text and as numbers (NaN where none).
struct Polled
{
    std::string word;
    std::vector<std::string> texts;
    std::vector<double> numbers;
    std::optional<double> replySeconds;
};

bool Numeric(ValueType type)
{
    return type != ValueType::Hex && type != ValueType::Bin && type != ValueType::String;
}

Polled Read(const Options& options, const Outcome& outcome)
{
    Polled poll;
    poll.word = outcome.result == Result::Value ? "ok"
                : outcome.result == Result::PortError ? "PortErr"
                                                      : BlockResultText(outcome);
    if ((outcome.result == Result::Value || outcome.result == Result::Exception) && outcome.timing)
        poll.replySeconds = outcome.timing->last;
    if (outcome.result != Result::Value)
        return poll;
    const bool numeric = !outcome.bits.empty() || Numeric(options.type);
    for (const BlockValue& value : BlockValues(options, outcome)) {
        const std::string& text = value.values.front().second;
        poll.texts.push_back(text);
        char* end = nullptr;
        const double x = numeric ? std::strtod(text.c_str(), &end) : NAN;
        poll.numbers.push_back(numeric && end && *end == '\0' ? x : NAN);
    }
    return poll;
}

// The output of the watch, one whole line at a time so that a line is never torn; the first
// failure to write ends the watch.
class Output
{
public:
    explicit Output(bool terminal) : m_terminal(terminal) {}

    bool Line(const std::string& line)
    {
        if (m_status) // the status line goes, the new row takes its place
            Write("\r\033[K");
        m_status = false;
        return Write(line + "\n");
    }
    void Status(const std::string& status)
    {
        if (!m_terminal || m_failed)
            return;
        // One line of an ordinary terminal, so that a carriage return takes it back whole.
        constexpr std::size_t kWidth = 79;
        Write(status.substr(0, kWidth));
        m_status = true;
    }
    void EndStatus()
    {
        if (m_status)
            Write("\n");
        m_status = false;
    }
    bool Failed() const { return m_failed; }
    // A reader that went away (`| head`): nothing to report.
    bool Closed() const { return m_error == EPIPE || m_error == EINVAL; }
    const char* Why() const { return std::strerror(m_error); }

private:
    bool Write(const std::string& text)
    {
        if (m_failed)
            return false;
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
            std::fflush(stdout) != 0) {
            m_error = errno;
            m_failed = true;
        }
        return !m_failed;
    }

    bool m_terminal;
    bool m_status = false;
    bool m_failed = false;
    int m_error = 0;
};

std::string Joined(const std::vector<std::string>& items, const std::string& between)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i ? between : "") + items[i];
    return text;
}

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\t\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string Header(const Options& options, const std::vector<std::string>& refs)
{
    if (options.format == Format::Json || options.format == Format::Table)
        return {};
    const std::string sep = options.format == Format::Csv ? "," : "\t";
    return "time" + sep + "outcome" + sep + "reply_ms" + sep + Joined(refs, sep);
}

std::string Row(const Options& options, const Polled& poll, const std::optional<double>& change,
                std::size_t columns)
{
    const std::string reply = poll.replySeconds ? Milliseconds(*poll.replySeconds) : "";
    std::vector<std::string> texts = poll.texts;
    texts.resize(columns);
    switch (options.format) {
    case Format::Table: {
        std::string time = LocalTimestamp().substr(11);
        std::string values = Joined(texts, "  ");
        char row[512];
        std::snprintf(row, sizeof row, "%s  %-12s %9s  %-8s %s", time.c_str(), values.c_str(),
                      poll.replySeconds ? (reply + " ms").c_str() : "", poll.word.c_str(),
                      change ? ((*change > 0 ? "+" : "") + Num(*change)).c_str() : "");
        std::string line = row;
        line.erase(line.find_last_not_of(' ') + 1);
        return line;
    }
    case Format::Csv:
    case Format::Tsv: {
        const std::string sep = options.format == Format::Csv ? "," : "\t";
        std::vector<std::string> fields{IsoTimestamp(), poll.word, reply};
        for (const std::string& t : texts)
            fields.push_back(options.format == Format::Csv ? CsvField(t) : t);
        return Joined(fields, sep);
    }
    case Format::Json: {
        std::string values;
        for (std::size_t i = 0; i < poll.texts.size(); ++i)
            values += (i ? "," : "") + JsonValue(poll.numbers[i] == poll.numbers[i]
                                                     ? options.type
                                                     : ValueType::String,
                                                 poll.texts[i]);
        return "{\"time\":" + Quoted(IsoTimestamp()) + ",\"outcome\":" + Quoted(poll.word) +
               (poll.replySeconds ? ",\"reply_ms\":" + reply : "") + ",\"values\":[" + values +
               "]}";
    }
    }
    return {};
}

std::string StatusLine(const WatchStats& stats)
{
    std::string line = "polls " + std::to_string(stats.polls) + ", answered " +
                       Num(stats.polls ? 100.0 * stats.answered / stats.polls : 0) + "%";
    if (stats.replies.Count())
        line += ", reply last " + Milliseconds(stats.replies.Last()) + " ms, median " +
                Milliseconds(stats.replies.Quantile(0.5)) + " ms";
    if (stats.values)
        line += ", value " + Num(stats.valueMin) + " to " + Num(stats.valueMax);
    return line;
}

// The end: the counts, the reply times, the value and the advice.
std::vector<std::string> Summary(const WatchStats& stats, const Schedule& schedule, double seconds)
{
    std::vector<std::string> lines;
    char head[256];
    std::snprintf(head, sizeof head,
                  "%zu polls in %.1f s: %zu answered, %zu no answer, %zu wrong CRC, %zu "
                  "exceptions, %zu other; %zu late, %zu slots skipped",
                  stats.polls, seconds, stats.answered, stats.noAnswer, stats.crcError,
                  stats.exceptions, stats.other, schedule.Late(), schedule.Skipped());
    lines.push_back(head);
    const ReplyTimes& r = stats.replies;
    if (r.Count())
        lines.push_back("reply min " + Milliseconds(r.Min()) + ", median " + Milliseconds(r.Quantile(0.5)) +
                        ", p99 " + Milliseconds(r.Quantile(0.99)) + ", max " + Milliseconds(r.Max()) + " ms");
    if (stats.values)
        lines.push_back("value min " + Num(stats.valueMin) + ", mean " +
                        Num(stats.valueSum / stats.values) + ", max " + Num(stats.valueMax));
    lines.push_back(WaitAdvice(r));
    return lines;
}

std::string SummaryJson(const WatchStats& stats, const Schedule& schedule, double seconds)
{
    const ReplyTimes& r = stats.replies;
    std::string json = "{\"summary\":{\"polls\":" + std::to_string(stats.polls) +
                       ",\"seconds\":" + Num(seconds) +
                       ",\"answered\":" + std::to_string(stats.answered) +
                       ",\"no_answer\":" + std::to_string(stats.noAnswer) +
                       ",\"crc_error\":" + std::to_string(stats.crcError) +
                       ",\"exceptions\":" + std::to_string(stats.exceptions) +
                       ",\"other\":" + std::to_string(stats.other) +
                       ",\"late\":" + std::to_string(schedule.Late()) +
                       ",\"skipped\":" + std::to_string(schedule.Skipped());
    if (r.Count())
        json += ",\"reply_ms\":{\"min\":" + Milliseconds(r.Min()) + ",\"median\":" + Milliseconds(r.Quantile(0.5)) +
                ",\"p99\":" + Milliseconds(r.Quantile(0.99)) + ",\"max\":" + Milliseconds(r.Max()) + "}";
    if (stats.values)
        json += ",\"value\":{\"min\":" + Num(stats.valueMin) + ",\"mean\":" +
                Num(stats.valueSum / stats.values) + ",\"max\":" + Num(stats.valueMax) + "}";
    return json + ",\"advice\":" + Quoted(WaitAdvice(r)) + "}}";
}

bool WritePlot(const std::string& path, const std::string& svg)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(svg.data(), 1, svg.size(), file) == svg.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

ExitStatus Watch(Line& line, const Options& options, bool terminal)
{
    const Command& command = options.command;
    const auto interrupted = [&] { return line.wait.abandoned && line.wait.abandoned(); };
    WatchStats stats;
    PlotRecord plot;
    Output out(terminal && options.format == Format::Table);
    const std::vector<std::string> refs = ValueRefs(options);
    if (const std::string header = Header(options, refs); !header.empty())
        out.Line(header);
    const double start = line.wait.clock();
    const std::string began = LocalTimestamp().substr(0, 19);
    Schedule schedule(start, options.interval);
    std::optional<ExitStatus> status;
    std::string why;

    // The port stays open for the whole watch.
    if (!line.port.OpenWithEvents(command.device, command.settings, line.wait)) {
        // Ctrl+C while a device server takes the connection ends the watch as any time does.
        if (!interrupted()) {
            why = PortErrorText(line.port.Error());
            status = kExitPortError;
        }
        line.port.Close();
    }
    std::optional<double> previous;
    // However fast the polls, the line stays silent between a reply and the next request for as
    // long as a slave needs to tell the two apart.
    const int bits = command.settings.parity == Parity::None ? 10 : 11;
    const double silence = FrameSilence(command.settings.baud, bits);
    double quietUntil = start;
    for (std::size_t n = 0; !status && (options.polls == 0 || n < options.polls); ++n) {
        const double now = line.wait.clock();
        const double next = std::max(schedule.Due(), quietUntil);
        if (next > now && AwaitReply(next - now, line.wait) == WaitEnd::Abandoned)
            break;
        if (interrupted())
            break;
        const Outcome outcome = Poll(line, command);
        if (outcome.result == Result::Abandoned)
            break;
        if (const auto error = LogCommand(options.portName, command, outcome))
            std::fprintf(stderr, "vek-cli: log not written: %s\n", error->c_str());
        const Polled poll = Read(options, outcome);
        const std::optional<double> first =
            poll.numbers.empty() || std::isnan(poll.numbers[0]) ? std::nullopt
                                                                : std::optional(poll.numbers[0]);
        stats.Add(outcome, first);
        if (!options.plot.empty()) {
            std::vector<double> values = poll.numbers;
            values.resize(refs.size(), NAN);
            plot.Add({line.wait.clock() - start, values,
                      poll.replySeconds ? *poll.replySeconds * 1000 : NAN,
                      outcome.result != Result::Value});
        }
        const std::optional<double> change =
            first && previous ? std::optional(*first - *previous) : std::nullopt;
        if (first)
            previous = first;
        if (!out.Line(Row(options, poll, change, refs.size())))
            break;
        out.Status(StatusLine(stats));
        if (outcome.result == Result::PortError) {
            why = "the port failed: " + PortErrorText(outcome.error);
            status = kExitPortError;
        }
        schedule.Polled(line.wait.clock());
        quietUntil = line.wait.clock() + silence;
    }
    line.port.Close();
    out.EndStatus();

    const double seconds = line.wait.clock() - start;
    if (out.Failed() && !out.Closed()) {
        why = std::string("the output could not be written: ") + out.Why();
        status = kExitOutput;
    }
    if (options.format == Format::Json && !out.Failed())
        out.Line(SummaryJson(stats, schedule, seconds));
    if (!why.empty())
        std::fprintf(stderr, "vek-cli: %s\n", why.c_str());
    // A reader that went away (`| head`) asked for no more: the watch ends without a word.
    const bool quiet = out.Failed() && out.Closed();
    for (const std::string& summary : Summary(stats, schedule, seconds))
        if (!quiet)
            std::fprintf(stderr, "vek-cli: %s\n", summary.c_str());
    if (!options.plot.empty()) {
        const std::string title = "vek-cli watch " + options.portName + ", station " +
                                   std::to_string(command.station) + ", " +
                                   SettingsWords(command.settings) + ", from " + began;
        if (!WritePlot(options.plot, PlotSvg(plot.Points(), refs, title)))
            std::fprintf(stderr, "vek-cli: the plot could not be written to %s: %s\n",
                         options.plot.c_str(), std::strerror(errno));
    }
    return status.value_or(kExitOk);
}
