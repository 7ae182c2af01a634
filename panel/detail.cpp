#include "panel/detail.h"

#include "modbus/numbers.h"
#include "serial/device.h"
#include "serial/port_error.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

std::string CountedHex(const char* what, std::span<const std::uint8_t> bytes)
{
    const std::string count =
        std::to_string(bytes.size()) + (bytes.size() == 1 ? " byte" : " bytes");
    return std::string(what) + " " + count + (bytes.empty() ? "" : ": " + Hex(bytes));
}

std::string HexByte(std::uint8_t byte)
{
    return Hex(std::span(&byte, 1));
}

std::string HexWord(std::uint16_t word)
{
    const std::array<std::uint8_t, 2> bytes{static_cast<std::uint8_t>(word >> 8),
                                            static_cast<std::uint8_t>(word & 0xFF)};
    std::string text = Hex(bytes);
    text.erase(2, 1);
    return text;
}

// Every detail starts by naming its command: the read row's result shows a write's detail too.
std::string Heading(CommandKind kind)
{
    return kind == CommandKind::Read ? "Last command: read" : "Last command: write";
}

std::string TableName(const RegisterRef& ref, bool plural)
{
    const char* names[] = {"coil", "discrete input", "", "input register", "holding register"};
    const int area = ref.AreaDigit >= 0 && ref.AreaDigit <= kHoldingRegisterArea ? ref.AreaDigit
                                                                                 : kHoldingRegisterArea;
    return names[area] + std::string(plural ? "s" : "");
}

// The request in words, for example "Station 1, input register 30002 (function 4)", "Station 1,
// 10 holding registers from 40001 (function 3)".
std::string RequestText(std::uint8_t station, std::uint8_t function, const RegisterRef& ref,
                        std::size_t count)
{
    const std::string what = count == 1 ? TableName(ref, false) + " " + ReferenceText(ref)
                                        : std::to_string(count) + " " + TableName(ref, true) +
                                              " from " + ReferenceText(ref);
    return "Station " + std::to_string(station) + ", " + what + " (function " +
           std::to_string(function) + ")";
}

// A register's word as both readings and in hex, for example "-25536 (unsigned 40000, hex 9C40)".
std::string Word(std::uint16_t word, bool signedFirst)
{
    const std::string s = std::to_string(static_cast<std::int16_t>(word));
    const std::string u = std::to_string(word);
    return (signedFirst ? s + " (unsigned " + u : u + " (signed " + s) + ", hex " + HexWord(word) +
           ")";
}

} // namespace

std::string Hex(std::span<const std::uint8_t> bytes, std::size_t limit)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < std::min(bytes.size(), limit); ++i) {
        if (i > 0)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    if (bytes.size() > limit)
        text += " ...";
    return text;
}

std::string ResultText(const ReplyOutcome& outcome)
{
    switch (outcome.kind) {
    case ReplyKind::NoAnswer:
        return "Noans";
    case ReplyKind::CrcError:
        return "CRCErr";
    case ReplyKind::Exception:
        return "CMDErr";
    case ReplyKind::Value:
        break;
    }
    return TextFromNumber(outcome.value);
}

std::string BlockResultText(const Outcome& outcome)
{
    switch (outcome.result) {
    case Result::Value:
        return outcome.bits.empty() ? TextFromNumber(outcome.value) : outcome.bits[0] ? " 1" : " 0";
    case Result::NoAnswer:
        return "Noans";
    case Result::Exception:
        return "CMDErr";
    case Result::OtherReply:
        return "WrongReply";
    default:
        return "CRCErr";
    }
}

std::string SecondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

namespace {

std::string Milliseconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds * 1000);
    return text;
}

} // namespace

std::string AnswerText(const Command& command, const Outcome& outcome)
{
    const std::span<const std::uint8_t> counted(outcome.received.bytes.data(),
                                                outcome.received.n);
    const auto reply = counted.subspan(std::min(outcome.echo, counted.size()));
    const bool read = command.kind == CommandKind::Read;
    const std::string wait = SecondsText(command.wait);
    switch (outcome.result) {
    case Result::NoAnswer:
        return read ? "No reply within " + wait + " s of the request; one that comes later is not read"
                    : "No reply within " + wait + " s: the write may not have arrived";
    case Result::CrcError:
        return "The last two bytes are not the CRC of the rest";
    case Result::Exception: {
        const bool whole = reply.size() >= kExceptionSize - kCrcSize;
        const std::string name = whole ? ExceptionName(ExceptionCodeOf(reply)) : "";
        const std::string code = whole ? HexByte(ExceptionCodeOf(reply)) : "";
        return read ? "Exception " + code + (name.empty() ? "" : ": " + name)
                    : "The slave refused the write: exception " + code +
                          (name.empty() ? "" : " " + name);
    }
    case Result::Value:
        if (!outcome.bits.empty())
            return std::to_string(outcome.bits.size()) + " bits read";
        if (outcome.words.size() > 1)
            return std::to_string(outcome.words.size()) + " registers read";
        return "Value " + Word(static_cast<std::uint16_t>(outcome.value), true);
    case Result::Confirmed:
        return "The slave confirmed the write";
    case Result::OtherReply:
        return read ? "The reply is a correct frame, but not the one this request asks for"
               : command.values.empty()
                   ? "The reply is not the request sent back, as a slave confirms a write"
                   : "The reply does not name the address and count written, as a slave confirms";
    case Result::PortError:
        return PortErrorText(outcome.error);
    case Result::NotSent:
    case Result::Abandoned:
        break;
    }
    return {};
}

namespace {

std::string Stray(std::span<const std::uint8_t> bytes)
{
    return std::to_string(bytes.size()) + (bytes.size() == 1 ? " stray byte " : " stray bytes ") +
           Hex(bytes);
}

// A correct reply among stray bytes, or a reply cut short: what bytes that fail the checks as a
// whole still tell.
std::string Salvage(const Command& command, std::span<const std::uint8_t> rx,
                    const ReplyReading& reading)
{
    if (reading.shape == ReplyShape::CutShort)
        return "\nThe reply is cut short: " + std::to_string(reading.size) + " of its " +
               std::to_string(reading.needed) + " bytes came";
    if (reading.shape != ReplyShape::AmongStray)
        return {};
    const auto reply = rx.subspan(reading.at, reading.size);
    const auto before = rx.first(reading.at);
    const auto after = rx.subspan(reading.at + reading.size);
    std::string text = "A correct reply (";
    if (reading.exception)
        text += "exception " + HexByte(ExceptionCodeOf(reply));
    else if (command.kind == CommandKind::Read)
        text += "value " + std::to_string(static_cast<std::int16_t>(RegisterOf(reply)));
    else
        text += "the write confirmed";
    text += ")";
    if (!before.empty())
        text += " follows " + Stray(before);
    if (!after.empty())
        text += (before.empty() ? " is followed by " : " and is followed by ") + Stray(after);
    if (!before.empty())
        text += "; stray bytes before a reply often mean an unbiased or unterminated RS-485 line";
    return "\n" + text;
}

// A reply with a good CRC is taken as it is; the operator should still learn of a second slave or
// a gateway answering in the station's place.
std::string Mismatch(std::span<const std::uint8_t> sent, std::span<const std::uint8_t> reply,
                     const ReplyReading& reading)
{
    if (reading.shape != ReplyShape::Foreign)
        return {};
    std::string text;
    if (reading.otherStation)
        text += "\nReply from station " + std::to_string(StationOf(reply)) + ", not " +
                std::to_string(StationOf(sent));
    if (reading.otherFunction)
        text += "\nReply for function " + std::to_string(FunctionOf(reply)) + ", not " +
                std::to_string(FunctionOf(sent));
    return text;
}

std::string Timing(const Command& command, const Outcome& outcome, std::size_t replyBytes)
{
    if (!outcome.timing)
        return {};
    std::string text = "\nReply " + std::to_string(replyBytes) +
                       (replyBytes == 1 ? " byte" : " bytes") + ", from " +
                       Milliseconds(outcome.timing->first) + " to " +
                       Milliseconds(outcome.timing->last) + " ms after the request";
    if (outcome.timing->last >= 0.8 * command.wait)
        text += "\nThe slave answers close to the " + SecondsText(command.wait) +
                " s this tool waits: a little slower and its reply is missed";
    return text;
}

} // namespace

std::string Detail(const Command& command, const Outcome& outcome)
{
    const Bytes& sent = *outcome.sent;
    const bool write = command.kind == CommandKind::Write;
    const std::size_t count = !write ? command.count : std::max<std::size_t>(command.values.size(), 1);
    std::string detail = Heading(command.kind) + "\n" +
                         RequestText(StationOf(sent), FunctionOf(sent), command.ref, count);
    // The speed and parity selected never reach a device server's line.
    if (IsNetworkDevice(command.device))
        detail += "\nLine settings are the device server's";
    if (write && command.values.empty())
        detail += "\nValue sent " + (command.ref.AreaDigit == kCoilArea
                                         ? std::string(command.value == kCoilOn ? "on" : "off")
                                         : Word(command.value, false));
    detail += "\n" + CountedHex("Sent", sent);
    if (outcome.result == Result::PortError)
        return detail + "\nThe reply could not be read: " + PortErrorText(outcome.error);

    const std::span<const std::uint8_t> counted(outcome.received.bytes.data(),
                                                outcome.received.n);
    const auto reply = counted.subspan(outcome.echo);
    detail += "\n" + CountedHex("Received", counted);
    if (outcome.echo > 0)
        detail += "\n(the first " + std::to_string(outcome.echo) +
                  " are the adapter's echo of the request)";
    detail += "\n" + AnswerText(command, outcome);
    if (outcome.result == Result::CrcError)
        detail += Salvage(command, reply, outcome.reading);
    else if (outcome.result != Result::NoAnswer)
        detail += Mismatch(sent, reply, outcome.reading);
    return detail + Timing(command, outcome, reply.size()) + "\n" + EndingText(command, outcome);
}

std::string PortFailureDetail(CommandKind kind, const PortError& error)
{
    // The read row's result also shows a write's failure; the heading says whose it is.
    return Heading(kind) + "\n" + PortErrorText(error);
}

std::string NothingSentDetail(CommandKind kind, const std::string& why)
{
    return Heading(kind) + "\nNothing sent: " + why;
}

std::string EndingText(const Command& command, const Outcome& outcome)
{
    const std::string wait = SecondsText(command.wait);
    if (command.mode == WaitMode::Whole)
        return "Waited the whole " + wait + " s";
    if (outcome.waitEnd == WaitEnd::Complete)
        return "Whole reply after " + Milliseconds(outcome.ended) + " ms";
    const bool nothing = outcome.received.n == outcome.echo;
    return (nothing ? "No answer within " : "No whole reply within ") + wait + " s";
}

std::string TriesText(int tries)
{
    return "Tried " + std::to_string(tries) + " times";
}
