#include "panel/detail.h"

#include "modbus/numbers.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::size_t kDetailBytes = 64;

std::string CountedHex(const char* what, std::span<const std::uint8_t> bytes)
{
    const std::string count =
        std::to_string(bytes.size()) + (bytes.size() == 1 ? " byte" : " bytes");
    return std::string(what) + " " + count + (bytes.empty() ? "" : ": " + Hex(bytes));
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
std::string Heading(Row kind)
{
    return kind == Row::Read ? "Last command: read" : "Last command: write";
}

// The request in words, for example "Station 1, input register 30002 (function 4)".
std::string Request(std::uint8_t station, std::uint8_t function, const RegisterRef& ref)
{
    const int reference = ref.AreaDigit * 10000 + ref.OffsetHi * 256 + ref.OffsetLo + 1;
    return "Station " + std::to_string(station) + ", " +
           (ref.AreaDigit == 3 ? "input register " : "holding register ") +
           std::to_string(reference) + " (function " + std::to_string(function) + ")";
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

std::string Hex(std::span<const std::uint8_t> bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < std::min(bytes.size(), kDetailBytes); ++i) {
        if (i > 0)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    if (bytes.size() > kDetailBytes)
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

std::string ReadDetail(const TxFrame& sent, const RxBytes& rx, std::span<const std::uint8_t> reply,
                       const ReplyOutcome& outcome, const RegisterRef& ref)
{
    const std::span<const std::uint8_t> counted(rx.bytes.data(), rx.n);
    std::string detail = Heading(Row::Read) + "\n" + Request(sent[0], sent[1], ref) + "\n" +
                         CountedHex("Sent", sent) + "\n" + CountedHex("Received", counted);
    if (reply.size() != counted.size())
        detail += "\n(the first 8 are the adapter's echo of the request)";
    switch (outcome.kind) {
    case ReplyKind::NoAnswer:
        return detail + "\nNo reply within 0.2 s of the request; one that comes later is not read";
    case ReplyKind::CrcError:
        return detail;
    case ReplyKind::Exception:
        if (reply.size() >= 3) {
            const std::string name = ExceptionName(reply[2]);
            detail += "\nException " + Hex(reply.subspan(2, 1)) + (name.empty() ? "" : ": " + name);
        }
        break;
    case ReplyKind::Value:
        detail += "\nValue " + Word(static_cast<std::uint16_t>(outcome.value), true);
        break;
    }
    // The checks take a reply with a good CRC as it is; the operator should still learn of a
    // second slave or a gateway answering in the station's place.
    if (reply.size() < 2)
        return detail;
    if (reply[0] != sent[0])
        detail +=
            "\nReply from station " + std::to_string(reply[0]) + ", not " + std::to_string(sent[0]);
    if ((reply[1] & 0x7F) != sent[1])
        detail += "\nReply for function " + std::to_string(reply[1] & 0x7F) + ", not " +
                  std::to_string(sent[1]);
    return detail;
}

std::string WriteDetail(const TxFrame& sent, const RegisterRef& ref)
{
    const auto value = static_cast<std::uint16_t>(sent[4] << 8 | sent[5]);
    return Heading(Row::Write) + "\n" + Request(sent[0], sent[1], ref) + "\nValue sent " +
           Word(value, false) + "\n" + CountedHex("Sent", sent) + "\nThe reply is not read";
}

std::string PortFailureDetail(Row kind, const PortError& error)
{
    // The read row's result also shows a write's failure; the heading says whose it is.
    return Heading(kind) + "\n" + PortErrorText(error);
}

std::string NothingSentDetail(Row kind, const std::string& why)
{
    return Heading(kind) + "\nNothing sent: " + why;
}
