#include "transactions.h"

#include "numbers.h"

#include <algorithm>

namespace {

constexpr double kReplyWait = 0.2;
constexpr int kReadRow = 0;
constexpr int kWriteRow = 1;
constexpr std::size_t kDetailBytes = 64; // a babbling line would make an unreadable tooltip

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

std::string ReadDetail(const TxFrame& sent, const RxBytes& rx, std::span<const std::uint8_t> reply,
                       const ReplyOutcome& outcome)
{
    const std::span<const std::uint8_t> counted(rx.bytes.data(), rx.n);
    std::string detail = CountedHex("Sent", sent) + "\n" + CountedHex("Received", counted);
    if (reply.size() != counted.size())
        detail += "\n(the first 8 are the adapter's echo of the request)";
    if (outcome.kind == ReplyKind::Exception && reply.size() >= 3) {
        const std::string name = ExceptionName(reply[2]);
        detail += "\nException " + Hex(reply.subspan(2, 1)) + (name.empty() ? "" : ": " + name);
    }
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
    panel.SetRxDetail(line.port.Reason());
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
    if (OpenPort(line.port, portNo, commSettings))
        return true;
    PortFailure(panel, line, row);
    return false;
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
        return Finish(panel, line, kReadRow);
    const std::optional<RegisterRef> ref = DecodeReference(panel.AddressText(values.RowIndex));
    if (!ref || (ref->AreaDigit != 3 && ref->AreaDigit != 4))
        return Finish(panel, line, kReadRow);
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
    panel.SetRxDetail(ReadDetail(frame, values.Rx, reply, outcome));
    Finish(panel, line, kReadRow);
}

void WriteTransaction(Panel& panel, Line& line, SharedValues& values)
{
    if (!Start(panel, line, values, kWriteRow))
        return;

    if (!NormaliseStation(panel, values, values.RowIndex))
        return Finish(panel, line, kWriteRow);
    const std::optional<RegisterRef> ref = DecodeReference(panel.AddressText(values.RowIndex));
    if (!ref || ref->AreaDigit != 4)
        return Finish(panel, line, kWriteRow);
    const std::optional<std::array<std::uint8_t, 2>> value = EncodeValue(panel.WriteDataText());
    if (!value)
        return Finish(panel, line, kWriteRow);

    const TxFrame frame = BuildRequest(values.StationNo, 6, *ref, (*value)[0], (*value)[1]);
    if (!SendFrame(line.port, frame))
        return PortFailure(panel, line, kWriteRow);
    panel.SetRxDetail(CountedHex("Sent", frame) + "\n(a write's reply is not read)");
    // The reply stays in the port until the close throws it away.
    AwaitReply(values.ReplyWait, line.wait);
    Finish(panel, line, kWriteRow);
}
