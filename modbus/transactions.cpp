#include "transactions.h"

#include "numbers.h"

#include <algorithm>
#include <array>

namespace {

constexpr double kReplyWait = 0.2;
constexpr int kReadRow = 0;
constexpr int kWriteRow = 1;
constexpr std::size_t kDetailBytes = 64; // a babbling line would make an unreadable tooltip
constexpr const char* kNoStation = "the station field names no station (0 to 255)";

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

std::string CountedHex(const char* what, std::span<const std::uint8_t> bytes)
{
    const std::string count =
        std::to_string(bytes.size()) + (bytes.size() == 1 ? " byte" : " bytes");
    return std::string(what) + " " + count + (bytes.empty() ? "" : ": " + Hex(bytes));
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

// Half-duplex RS-485 adapters hear their own request. A reply can never begin with the request
// itself, so those eight bytes are dropped before the checks; an echo alone is then no answer.
std::span<const std::uint8_t> WithoutEcho(const TxFrame& sent, std::span<const std::uint8_t> rx)
{
    if (rx.size() >= sent.size() && std::equal(sent.begin(), sent.end(), rx.begin()))
        return rx.subspan(sent.size());
    return rx;
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
std::string Heading(int row)
{
    return row == kReadRow ? "Last command: read" : "Last command: write";
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

std::string ReadDetail(const TxFrame& sent, const RxBytes& rx, std::span<const std::uint8_t> reply,
                       const ReplyOutcome& outcome, const RegisterRef& ref)
{
    const std::span<const std::uint8_t> counted(rx.bytes.data(), rx.n);
    std::string detail = Heading(kReadRow) + "\n" + Request(sent[0], sent[1], ref) + "\n" +
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

// Every way out of a command: the port closed, the button enabled again.
void Finish(Panel& panel, Line& line, int row)
{
    ClosePort(line.port);
    panel.SetCommandEnabled(row, true);
}

void PortFailure(Panel& panel, Line& line, int row)
{
    panel.SetRxData("PortErr");
    // The read row's result also shows a write's failure; the heading says whose it is.
    panel.SetRxDetail(Heading(row) + "\n" + line.port.Reason());
    Finish(panel, line, row);
}

// A write, or a command that sends nothing, leaves the result as it was: its detail must not
// let an old value pass for its own.
std::string OlderResult(const Panel& panel)
{
    return panel.RxDataText().empty() ? "" : "\nThe result shown is from an earlier command";
}

// A command that sends nothing shows no message; its detail says why.
void NothingSent(Panel& panel, Line& line, int row, const char* why)
{
    panel.SetRxDetail(Heading(row) + "\nNothing sent: " + why + OlderResult(panel));
    Finish(panel, line, row);
}

// How every command begins: its button off, the line settings taken from the selectors, the
// shared values set, the port opened. False (with the failure shown) when the port will not open.
bool Start(Panel& panel, Line& line, SharedValues& values, int row)
{
    panel.SetCommandEnabled(row, false);
    const Selectors selectors = panel.SelectorState();
    const int portNo = PortFromSelectors(selectors);
    const std::string commSettings = SettingsFromSelectors(selectors);
    values.ReplyWait = kReplyWait;
    values.RowIndex = static_cast<std::int16_t>(row);
    if (!OpenPort(line.port, portNo, commSettings)) {
        PortFailure(panel, line, row);
        return false;
    }
    // The port opens again, so an earlier "PortErr" no longer holds. A write shows nothing of its
    // own, and a read may send nothing: left on screen it would say the port is still broken.
    if (panel.RxDataText() == "PortErr") {
        panel.SetRxData("");
        panel.SetRxDetail("");
    }
    return true;
}

} // namespace

bool NormaliseStation(Panel& panel, SharedValues& values, int row)
{
    const std::optional<std::uint8_t> station = StationFromText(panel.StationText(row));
    if (!station)
        return false;
    values.StationNo = *station;
    panel.SetStationText(row, TextFromNumber(values.StationNo));
    return true;
}

void ReadTransaction(Panel& panel, Line& line, SharedValues& values)
{
    if (!Start(panel, line, values, kReadRow))
        return;

    if (!NormaliseStation(panel, values, values.RowIndex))
        return NothingSent(panel, line, kReadRow, kNoStation);
    const std::optional<RegisterRef> ref = DecodeReference(panel.AddressText(values.RowIndex));
    if (!ref || (ref->AreaDigit != 3 && ref->AreaDigit != 4))
        return NothingSent(panel, line, kReadRow,
                           "the address is neither an input register (3xxxx) nor a holding "
                           "register (4xxxx)");
    const std::uint8_t function = ref->AreaDigit == 3 ? 4 : 3;

    const TxFrame frame = BuildRequest(values.StationNo, function, *ref, 0, 1);
    if (!SendFrame(line.port, frame))
        return PortFailure(panel, line, kReadRow);
    if (!AwaitReply(values.ReplyWait, line.wait))
        return Finish(panel, line, kReadRow); // abandoned: nothing more is shown
    std::optional<RxBytes> rx = TakeInput(line.port);
    if (!rx)
        return PortFailure(panel, line, kReadRow);
    values.Rx = std::move(*rx);

    const auto reply = WithoutEcho(frame, std::span(values.Rx.bytes.data(), values.Rx.n));
    const ReplyOutcome outcome = CheckReply(reply.size(), reply);
    panel.SetRxData(ResultText(outcome));
    panel.SetRxDetail(ReadDetail(frame, values.Rx, reply, outcome, *ref));
    Finish(panel, line, kReadRow);
}

void WriteTransaction(Panel& panel, Line& line, SharedValues& values)
{
    if (!Start(panel, line, values, kWriteRow))
        return;

    if (!NormaliseStation(panel, values, values.RowIndex))
        return NothingSent(panel, line, kWriteRow, kNoStation);
    const std::optional<RegisterRef> ref = DecodeReference(panel.AddressText(values.RowIndex));
    if (!ref || ref->AreaDigit != 4)
        return NothingSent(panel, line, kWriteRow, "the address is not a holding register (4xxxx)");
    const std::optional<std::array<std::uint8_t, 2>> value = EncodeValue(panel.WriteDataText());
    if (!value)
        return NothingSent(panel, line, kWriteRow,
                           "the value is too large a number (beyond about 1E+308)");

    const TxFrame frame = BuildRequest(values.StationNo, 6, *ref, (*value)[0], (*value)[1]);
    if (!SendFrame(line.port, frame))
        return PortFailure(panel, line, kWriteRow);
    const auto sent = static_cast<std::uint16_t>((*value)[0] << 8 | (*value)[1]);
    panel.SetRxDetail(Heading(kWriteRow) + "\n" + Request(frame[0], frame[1], *ref) +
                      "\nValue sent " + Word(sent, false) + "\n" + CountedHex("Sent", frame) +
                      "\nThe reply is not read" + OlderResult(panel));
    // The reply stays in the port until the close throws it away.
    AwaitReply(values.ReplyWait, line.wait);
    Finish(panel, line, kWriteRow);
}
