#include "listen.h"

#include "modbus/conversation.h"
#include "panel/detail.h"
#include "serial/device.h"
#include "serial/port_error.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <ctime>
#include <string>
#include <vector>

namespace {

// The longest sleep of the event pump: Ctrl+C, and the quiet that settles bytes waiting for more,
// are noticed this soon.
constexpr double kPass = 0.05;

std::string AllHex(std::span<const std::uint8_t> bytes)
{
    return Hex(bytes, bytes.size());
}

// What a piece that makes no frame is, as JSON names it: "wrong_crc".
std::string KindName(PieceKind kind)
{
    std::string name = PieceKindText(kind);
    std::replace(name.begin(), name.end(), ' ', '_');
    std::transform(name.begin(), name.end(), name.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return name;
}

std::string OutcomeName(const Overheard& exchange)
{
    switch (exchange.heard) {
    case Heard::Reply:
        return "reply";
    case Heard::Exception:
        return "exception";
    case Heard::OtherReply:
        return "other_reply";
    case Heard::NoAnswer:
        return "no_answer";
    case Heard::Ended:
        return "ended";
    case Heard::Broadcast:
        return "broadcast";
    case Heard::NoRequest:
        return "no_request";
    case Heard::Garbled:
    case Heard::Noise:
        return KindName(exchange.reply->kind);
    }
    return "";
}

// The times of the steady clock as the time of day.
class WallClock
{
public:
    explicit WallClock(double steadyNow)
    {
        using namespace std::chrono;
        m_offset = duration<double>(system_clock::now().time_since_epoch()).count() - steadyNow;
    }
    // "14:03:07.512", or with the date "2026-12-07 14:03:07.512".
    std::string Text(double steady, bool date) const
    {
        const double wall = steady + m_offset;
        const double whole = std::floor(wall);
        const auto seconds = static_cast<std::time_t>(whole);
        const int ms = std::clamp(static_cast<int>((wall - whole) * 1000), 0, 999);
        char text[48] = "";
        if (const std::tm* local = std::localtime(&seconds))
            std::strftime(text, sizeof text, date ? "%Y-%m-%d %H:%M:%S" : "%H:%M:%S", local);
        char full[64];
        std::snprintf(full, sizeof full, "%s.%03d", text, ms);
        return full;
    }

private:
    double m_offset = 0;
};

std::string Text(const Overheard& e, const WallClock& clock)
{
    std::string line = clock.Text(e.Time(), false) + "  ";
    if (e.heard == Heard::Noise)
        return line + "noise  " + PieceKindText(e.reply->kind) + ": " + AllHex(e.reply->bytes);
    line += "station " + std::to_string(*e.Station()) + "  ";
    if (e.heard == Heard::NoRequest)
        return line + "no request  ->  " + AllHex(e.reply->bytes);
    line += ReadAsked(e.request->bytes).text + "  ->  ";
    switch (e.heard) {
    case Heard::Reply:
    case Heard::Exception:
        line += ReadAnswered(e.request->bytes, e.reply->bytes).text;
        break;
    case Heard::OtherReply:
        line += "not its answer: " + AllHex(e.reply->bytes);
        break;
    case Heard::NoAnswer:
        line += "no answer";
        break;
    case Heard::Ended:
        line += "listening ended before a reply";
        break;
    case Heard::Broadcast:
        line += "broadcast, no reply";
        break;
    default:
        line += std::string(PieceKindText(e.reply->kind)) + ": " + AllHex(e.reply->bytes);
        break;
    }
    if (const std::optional<double> seconds = e.ReplySeconds())
        line += "  " + Milliseconds(*seconds) + " ms";
    if (e.stray)
        line += "  (after stray bytes, " + std::string(PieceKindText(e.stray->kind)) + ": " +
                AllHex(e.stray->bytes) + ")";
    if (e.request->runTogether)
        line += "  (the request ran together with the frame before it)";
    if (e.reply && e.reply->runTogether)
        line += "  (the reply ran together with the request)";
    return line;
}

std::string Values(const std::vector<int>& values)
{
    std::string json;
    for (const int v : values)
        json += (json.empty() ? "[" : ",") + std::to_string(v);
    return json.empty() ? "[]" : json + "]";
}

std::string Json(const Overheard& e, const WallClock& clock)
{
    std::string json = "{\"time\":" + Quoted(clock.Text(e.Time(), true));
    if (const std::optional<std::uint8_t> station = e.Station())
        json += Field("station", std::to_string(*station));
    json += Field("outcome", Quoted(OutcomeName(e)));
    if (e.request) {
        const Bytes& request = e.request->bytes;
        const Asked asked = ReadAsked(request);
        json += Field("function", std::to_string(request[1])) +
                Field("name", Quoted(FunctionName(request[1]))) +
                Field("asked", Quoted(asked.text));
        if (asked.ref)
            json += Field("ref", Quoted(ReferenceText(*asked.ref))) +
                    Field("count", std::to_string(asked.count));
        std::vector<int> values = asked.values;
        if (e.heard == Heard::Reply || e.heard == Heard::Exception) {
            const Answered answered = ReadAnswered(request, e.reply->bytes);
            json += Field("answered", Quoted(answered.text));
            if (answered.exception)
                json += Field("exception", std::to_string(*answered.exception)) +
                        Field("exception_name", Quoted(ExceptionName(*answered.exception)));
            else if (!answered.values.empty())
                values = answered.values;
        }
        if (!values.empty())
            json += Field("values", Values(values));
        json += Field("request", Quoted(AllHex(request)));
    }
    if (e.reply)
        json += Field(e.heard == Heard::Noise ? "bytes" : "reply", Quoted(AllHex(e.reply->bytes)));
    if (const std::optional<double> seconds = e.ReplySeconds())
        json += Field("reply_ms", Milliseconds(*seconds));
    if (e.stray)
        json += Field("stray", Quoted(AllHex(e.stray->bytes))) +
                Field("stray_outcome", Quoted(KindName(e.stray->kind)));
    if ((e.request && e.request->runTogether) || (e.reply && e.reply->runTogether))
        json += Field("run_together", "true");
    return json + "}";
}

std::string Raw(std::span<const std::uint8_t> chunk, double time, const WallClock& clock, bool json)
{
    if (json)
        return "{\"time\":" + Quoted(clock.Text(time, true)) + Field("raw", Quoted(AllHex(chunk))) +
               "}";
    return clock.Text(time, false) + "  raw  " + AllHex(chunk);
}

void PrintTally(std::FILE* err, const Tally& tally)
{
    if (tally.stations.empty()) {
        std::fputs("no requests heard\n", err);
    } else {
        std::fprintf(err, "%7s %9s %8s %10s %10s %11s %10s %10s\n", "station", "requests",
                     "replies", "no answer", "wrong CRC", "exceptions", "median ms", "p99 ms");
        for (const auto& [station, t] : tally.stations) {
            const bool timed = t.times.Count() > 0;
            std::fprintf(err, "%7d %9zu %8zu %10zu %10zu %11zu %10s %10s\n", station, t.requests,
                         t.replies, t.noAnswer, t.wrongCrc, t.exceptions,
                         timed ? Milliseconds(t.times.Quantile(0.5)).c_str() : "-",
                         timed ? Milliseconds(t.times.Quantile(0.99)).c_str() : "-");
        }
    }
    std::fprintf(err,
                 "replies with no request: %zu; bytes that make no frame: %zu (in %zu pieces)\n",
                 tally.noRequest, tally.noiseBytes, tally.noisePieces);
}

} // namespace

ExitStatus Listen(Line& line, const Options& options, std::FILE* out, std::FILE* err)
{
    const Command& command = options.command;
    SerialPort& port = line.port;
    if (!port.OpenWithEvents(command.device, command.settings, line.wait)) {
        std::fprintf(err, "vek-cli: %s\n", PortErrorText(port.Error()).c_str());
        port.Close();
        return kExitPortError;
    }
    if (IsNetworkDevice(command.device))
        std::fprintf(err, "vek-cli: listening on %s (line settings are the device server's); "
                          "Ctrl+C ends\n",
                     command.device.c_str());
    else
        std::fprintf(err, "vek-cli: listening on %s at %d %s; Ctrl+C ends\n",
                     command.device.c_str(), command.settings.baud,
                     ParityName(command.settings.parity));
    std::fflush(err);
    const double start = line.wait.clock();
    const WallClock clock(start);
    FrameSplitter splitter(command.settings.baud, command.settings.parity != Parity::None);
    Conversation conversation;
    Tally tally;
    std::vector<Piece> pieces;
    std::vector<Overheard> heard;
    const auto show = [&] {
        for (Piece& piece : pieces)
            conversation.Take(std::move(piece), heard);
        pieces.clear();
        for (const Overheard& exchange : heard) {
            tally.Count(exchange);
            const std::string text = options.json ? Json(exchange, clock) : Text(exchange, clock);
            std::fprintf(out, "%s\n", text.c_str());
        }
        heard.clear();
    };

    std::size_t taken = 0; // bytes since the open
    std::optional<PortError> failed;
    for (bool listening = true; listening;) {
        line.wait.runPendingEvents(kPass);
        listening = !(line.wait.abandoned && line.wait.abandoned());
        const std::optional<Bytes> bytes = port.TakeAll();
        const double now = line.wait.clock();
        if (!bytes) {
            failed = port.Error();
            break;
        }
        // Each chunk at the time the port received it; bytes it has not dated yet, now.
        const std::size_t total = taken + bytes->size();
        std::size_t at = taken;
        const auto chunk = [&](std::size_t to, double time) {
            const auto part = std::span(*bytes).subspan(at - taken, to - at);
            if (options.raw)
                std::fprintf(out, "%s\n", Raw(part, time, clock, options.json).c_str());
            splitter.Push(part, time, pieces);
            at = to;
        };
        for (const Arrival& arrival : port.Arrivals())
            if (arrival.total > at && at < total)
                chunk(std::min(arrival.total, total), arrival.time);
        if (at < total)
            chunk(total, now);
        taken = total;
        port.ForgetArrivals(taken);
        splitter.Idle(now, pieces);
        show();
        conversation.Idle(now, heard);
        show();
        std::fflush(out);
    }
    splitter.Finish(pieces);
    show();
    conversation.Finish(heard);
    show();
    std::fflush(out);
    port.Close();
    if (failed)
        std::fprintf(err, "vek-cli: %s\n", PortErrorText(*failed).c_str());
    std::fprintf(err, "vek-cli: listened %.1f s on %s at %d %s\n", line.wait.clock() - start,
                 command.device.c_str(), command.settings.baud,
                 ParityName(command.settings.parity));
    PrintTally(err, tally);
    return failed ? kExitPortError : kExitOk;
}
