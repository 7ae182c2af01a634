#include "report.h"

#include "panel/detail.h"
#include "serial/port_error.h"

#include <cstdio>

namespace {

// Each result's name in JSON and exit status.
struct Ending
{
    Result result;
    const char* name;
    ExitStatus status;
};
constexpr Ending kEndings[] = {
    {Result::NotSent, "not_sent", kExitUsage},
    {Result::Value, "value", kExitOk},
    {Result::Confirmed, "confirmed", kExitOk},
    {Result::NoAnswer, "no_answer", kExitNoAnswer},
    {Result::CrcError, "crc_error", kExitCrcError},
    {Result::Exception, "exception", kExitException},
    {Result::OtherReply, "other_reply", kExitOtherReply},
    {Result::PortError, "port_error", kExitPortError},
    {Result::Abandoned, "interrupted", kExitInterrupted},
};

const Ending& EndingOf(Result result)
{
    for (const Ending& ending : kEndings)
        if (ending.result == result)
            return ending;
    return kEndings[0]; // every result is listed; none may pass for a success
}

std::string Quoted(const std::string& text)
{
    std::string json = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (c == '\n') {
            json += "\\n";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

std::string Field(const char* name, const std::string& json)
{
    return ",\"" + std::string(name) + "\":" + json;
}

std::string Milliseconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds * 1000);
    return text;
}

} // namespace

ExitStatus StatusOf(Result result)
{
    return EndingOf(result).status;
}

std::string SettingsWords(const LineSettings& settings)
{
    return std::to_string(settings.baud) + " " + ParityName(settings.parity);
}

std::string JsonLine(const char* verb, const Command& command, const Outcome& outcome, bool detail)
{
    const RegisterRef& ref = command.ref;
    const bool read = command.kind == CommandKind::Read;
    std::string json =
        "{\"command\":" + Quoted(verb) + Field("outcome", Quoted(EndingOf(outcome.result).name)) +
        Field("port", Quoted(command.device)) +
        Field("speed", std::to_string(command.settings.baud)) +
        Field("parity", Quoted(ParityName(command.settings.parity))) +
        Field("station", std::to_string(command.station)) +
        Field("ref", std::to_string(ReferenceNumber(ref))) +
        Field("wait", SecondsText(command.wait));
    if (outcome.shown)
        json += Field("shown", Quoted(*outcome.shown));
    // A read's value as it came, or the value a write sent.
    if (!read || outcome.result == Result::Value) {
        const auto word = read ? static_cast<std::uint16_t>(outcome.value) : command.value;
        json += Field("value", std::to_string(static_cast<std::int16_t>(word))) +
                Field("unsigned", std::to_string(word));
    }
    if (outcome.sent) {
        json += Field("sent", Quoted(Hex(*outcome.sent)));
        if (outcome.result != Result::PortError)
            json +=
                Field("received",
                      Quoted(Hex(std::span(outcome.received.bytes.data(), outcome.received.n)))) +
                Field("received_count", std::to_string(outcome.received.n));
    }
    if (outcome.timing)
        json += Field("first_ms", Milliseconds(outcome.timing->first)) +
                Field("last_ms", Milliseconds(outcome.timing->last));
    if (outcome.sent && outcome.result != Result::PortError)
        json += Field("ended", Quoted(EndingText(command, outcome))) +
                Field("ended_ms", Milliseconds(outcome.ended));
    json += Field("tries", std::to_string(outcome.tries));
    json += Field("answer", Quoted(AnswerText(command, outcome)));
    if (detail)
        json += Field("detail", Quoted(outcome.detail));
    return json + "}";
}

void PrintOutcome(const Options& options, const Outcome& outcome)
{
    const Command& command = options.command;
    if (outcome.result == Result::PortError)
        std::fprintf(stderr, "vek-cli: %s\n", PortErrorText(outcome.error).c_str());
    std::string text;
    if (options.json)
        text = JsonLine(command.kind == CommandKind::Read ? "read" : "write", command, outcome,
                        options.verbose);
    else if (options.verbose)
        text = (outcome.shown ? *outcome.shown + "\n" : "") + outcome.detail;
    else if (command.kind == CommandKind::Read || !outcome.sent)
        text = outcome.shown.value_or("");
    else
        text = "Sent " + Hex(*outcome.sent) + "\n" + AnswerText(command, outcome);
    std::printf("%s\n", text.c_str());
}
