#include "panel/engine.h"

#include "panel/detail.h"

#include <algorithm>

namespace {

// Half-duplex RS-485 adapters hear their own request. A reply can never begin with the request
// itself, so those eight bytes are dropped before the checks; an echo alone is then no answer.
std::span<const std::uint8_t> WithoutEcho(const TxFrame& sent, std::span<const std::uint8_t> rx)
{
    if (rx.size() >= sent.size() && std::equal(sent.begin(), sent.end(), rx.begin()))
        return rx.subspan(sent.size());
    return rx;
}

Result ResultOf(ReplyKind kind)
{
    switch (kind) {
    case ReplyKind::NoAnswer:
        return Result::NoAnswer;
    case ReplyKind::CrcError:
        return Result::CrcError;
    case ReplyKind::Exception:
        return Result::Exception;
    case ReplyKind::Value:
        break;
    }
    return Result::Value;
}

Outcome Failed(Line& line, Row kind)
{
    Outcome outcome = PortFailure(kind, line.port.Error());
    line.port.Close();
    return outcome;
}

} // namespace

std::optional<std::uint8_t> ReadFunction(const RegisterRef& ref)
{
    if (ref.AreaDigit == 3)
        return 4;
    if (ref.AreaDigit == 4)
        return 3;
    return std::nullopt;
}

Outcome PortFailure(Row kind, const PortError& error)
{
    Outcome outcome;
    outcome.result = Result::PortError;
    outcome.shown = "PortErr";
    outcome.error = error;
    outcome.detail = PortFailureDetail(kind, error);
    return outcome;
}

Outcome Run(Line& line, const Command& command)
{
    if (!line.port.Open(command.device, command.settings))
        return Failed(line, command.kind);
    return Exchange(line, command);
}

Outcome Exchange(Line& line, const Command& command)
{
    const bool read = command.kind == Row::Read;
    const std::optional<std::uint8_t> function = read ? ReadFunction(command.ref) : 6;
    if (!function || (!read && command.ref.AreaDigit != 4)) {
        line.port.Close();
        Outcome outcome;
        outcome.detail = NothingSentDetail(
            command.kind, read ? "the address is neither an input register (3xxxx) nor a holding "
                                 "register (4xxxx)"
                               : "the address is not a holding register (4xxxx)");
        return outcome;
    }
    const std::uint8_t data4 = read ? 0 : static_cast<std::uint8_t>(command.value >> 8);
    const std::uint8_t data5 = read ? 1 : static_cast<std::uint8_t>(command.value & 0xFF);
    const TxFrame frame = BuildRequest(command.station, *function, command.ref, data4, data5);

    if (!line.port.Send(frame))
        return Failed(line, command.kind);
    Outcome outcome;
    outcome.sent = frame;
    if (!AwaitReply(command.wait, line.wait)) {
        outcome.result = Result::Abandoned;
        return outcome;
    }
    if (!read) {
        // The reply stays in the port until the close throws it away.
        line.port.Close();
        outcome.result = Result::Written;
        outcome.detail = WriteDetail(frame, command.ref);
        return outcome;
    }
    std::optional<RxBytes> rx = TakeInput(line.port);
    if (!rx)
        return Failed(line, command.kind);
    line.port.Close();

    const auto reply = WithoutEcho(frame, std::span(rx->bytes.data(), rx->n));
    const ReplyOutcome checked = CheckReply(reply);
    outcome.result = ResultOf(checked.kind);
    outcome.value = checked.value;
    outcome.shown = ResultText(checked);
    outcome.detail = ReadDetail(frame, *rx, reply, checked, command.ref);
    outcome.received = std::move(*rx);
    return outcome;
}
