#include "report.h"

#include "panel/detail.h"
#include "serial/device.h"
#include "serial/port_error.h"

#include <algorithm>
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

} // namespace

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

namespace {

// How many registers or bits one value of the read takes: a bit, a type's registers, or the
// whole block for a string.
std::size_t Each(const Options& options)
{
    const Command& command = options.command;
    if (IsBitFunction(ReadFunctionFor(command.ref).value_or(0)))
        return 1;
    return options.type == ValueType::String ? command.count : RegistersFor(options.type);
}

std::string RefAt(const RegisterRef& first, std::size_t i)
{
    return ReferenceText(
        ReferenceAt(first.AreaDigit, static_cast<std::uint16_t>(AddressOf(first) + i)));
}

} // namespace

std::vector<std::string> ValueRefs(const Options& options)
{
    std::vector<std::string> refs;
    for (std::size_t i = 0; i + Each(options) <= options.command.count; i += Each(options))
        refs.push_back(RefAt(options.command.ref, i));
    return refs;
}

std::vector<BlockValue> BlockValues(const Options& options, const Outcome& outcome)
{
    const RegisterRef& first = options.command.ref;
    std::vector<BlockValue> block;
    for (std::size_t i = 0; i < outcome.bits.size(); ++i)
        block.push_back({RefAt(first, i), {}, {{options.order, outcome.bits[i] ? "1" : "0"}}, {}});
    const std::size_t each = Each(options);
    for (std::size_t i = 0; outcome.bits.empty() && i + each <= outcome.words.size(); i += each) {
        BlockValue value{RefAt(first, i), {}, {}, {}};
        std::vector<std::uint8_t> bytes;
        for (std::size_t w = i; w < i + each; ++w) {
            bytes.push_back(static_cast<std::uint8_t>(outcome.words[w] >> 8));
            bytes.push_back(static_cast<std::uint8_t>(outcome.words[w] & 0xFF));
            value.raw += (w > i ? " " : "") + ValueText(ValueType::Hex, std::span(bytes).last(2));
        }
        for (const WordOrder order : kWordOrders) {
            if (!options.allOrders && order != options.order)
                continue;
            const std::vector<std::uint8_t> ordered = Reordered(bytes, order);
            value.values.emplace_back(order, ValueText(options.type, ordered));
            value.plausible.push_back(Plausible(options.type, ordered));
        }
        block.push_back(std::move(value));
    }
    return block;
}

std::string JsonValue(ValueType type, const std::string& text)
{
    const bool number = type != ValueType::Hex && type != ValueType::Bin &&
                        type != ValueType::String &&
                        text.find_first_not_of("0123456789+-.e") == std::string::npos;
    return number ? text : Quoted(text);
}

namespace {

std::string BlockJson(const Options& options, const Outcome& outcome)
{
    const ValueType type = outcome.bits.empty() ? options.type : ValueType::Uint16;
    std::string json;
    for (const BlockValue& value : BlockValues(options, outcome)) {
        json += json.empty() ? "[" : ",";
        json += "{\"ref\":" + Quoted(value.ref);
        if (!value.raw.empty())
            json += Field("raw", Quoted(value.raw));
        if (!options.allOrders) {
            json += Field("value", JsonValue(type, value.values[0].second));
        } else {
            std::string orders;
            for (std::size_t k = 0; k < value.values.size(); ++k)
                orders += std::string(orders.empty() ? "{" : ",") + "\"" +
                          NameOf(value.values[k].first) + "\":" +
                          JsonValue(type, value.values[k].second);
            std::string plausible;
            for (std::size_t k = 0; k < value.values.size(); ++k)
                if (value.plausible[k])
                    plausible += (plausible.empty() ? "" : ",") + Quoted(NameOf(value.values[k].first));
            json += Field("orders", orders + "}") + Field("plausible", "[" + plausible + "]");
        }
        json += "}";
    }
    return json.empty() ? "[]" : json + "]";
}

// A read shows one plain register as the panel does; anything asked beyond that, as a block.
bool ShowsBlock(const Options& options)
{
    return options.typed || options.command.count > 1 ||
           ReadFunctionFor(options.command.ref) == Function::ReadCoils ||
           ReadFunctionFor(options.command.ref) == Function::ReadDiscreteInputs;
}

} // namespace

std::string BlockText(const Options& options, const Outcome& outcome)
{
    std::string text;
    for (const BlockValue& value : BlockValues(options, outcome)) {
        std::string line = value.ref;
        if (!value.raw.empty())
            line += "  " + value.raw;
        for (std::size_t k = 0; k < value.values.size(); ++k) {
            line += "  ";
            if (options.allOrders)
                line += std::string(NameOf(value.values[k].first)) + " ";
            line += value.values[k].second + (options.allOrders && value.plausible[k] ? " *" : "");
        }
        text += line + "\n";
    }
    return text;
}

ExitStatus StatusOf(Result result)
{
    return EndingOf(result).status;
}

std::string SettingsWords(const LineSettings& settings)
{
    return std::to_string(settings.baud) + " " + ParityName(settings.parity);
}

std::string JsonLine(const char* verb, const Command& command, const Outcome& outcome, bool detail,
                     const Options* block)
{
    const RegisterRef& ref = command.ref;
    const bool read = command.kind == CommandKind::Read;
    const bool server = IsNetworkDevice(command.device);
    std::string json =
        "{\"command\":" + Quoted(verb) + Field("outcome", Quoted(EndingOf(outcome.result).name)) +
        Field("port", Quoted(command.device)) +
        // A device server's line has its own settings, unknown here.
        Field("speed", server ? "null" : std::to_string(command.settings.baud)) +
        Field("parity", server ? "null" : Quoted(ParityName(command.settings.parity))) +
        Field("station", std::to_string(command.station)) +
        Field("ref", std::to_string(ReferenceNumber(ref))) +
        Field("wait", SecondsText(command.wait));
    if (outcome.shown)
        json += Field("shown", Quoted(*outcome.shown));
    if (block) {
        const char* tables[] = {"coil", "discrete", "", "input", "holding"};
        json += Field("table", Quoted(tables[std::clamp(command.ref.AreaDigit, 0, 4)])) +
                Field("count", std::to_string(command.count)) +
                Field("type", Quoted(outcome.bits.empty() ? NameOf(block->type) : "bit")) +
                Field("order", Quoted(block->allOrders ? "all" : NameOf(block->order)));
        if (outcome.result == Result::Value)
            json += Field("values", BlockJson(*block, outcome));
    } else if (!read || outcome.result == Result::Value) {
        // A read's value as it came, or the value a write sent.
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
    const bool read = command.kind == CommandKind::Read;
    const bool block = read && ShowsBlock(options) && outcome.result == Result::Value;
    const std::string shown =
        block ? BlockText(options, outcome) : outcome.shown ? *outcome.shown + "\n" : "";
    if (options.json)
        text = JsonLine(read ? "read" : "write", command, outcome, options.verbose,
                        read && ShowsBlock(options) ? &options : nullptr);
    else if (options.verbose)
        text = shown + outcome.detail;
    else if (read || !outcome.sent)
        text = shown.substr(0, shown.size() - (shown.empty() ? 0 : 1));
    else
        text = "Sent " + Hex(*outcome.sent) + "\n" + AnswerText(command, outcome);
    std::printf("%s\n", text.c_str());
}
