#include "panel/engine.h"

#include "panel/detail.h"

#include <algorithm>

namespace {

// Half-duplex RS-485 adapters hear their own request. A read's reply can never begin with the
// request itself, so those eight bytes are dropped before the checks; an echo alone is then no
// answer. A write's confirmation is the request itself: only what follows a first copy tells it
// from an echo.
std::span<const std::uint8_t> WithoutEcho(const Command& command, const TxFrame& sent,
                                          std::span<const std::uint8_t> rx)
{
    const std::size_t least = command.kind == Row::Read ? sent.size() : sent.size() + 1;
    if (rx.size() >= least && std::equal(sent.begin(), sent.end(), rx.begin()))
        return rx.subspan(sent.size());
    return rx;
}

// What the checks make of a reply: a read's value, or a write's confirmation, which is the request
// itself coming back.
Result ResultOf(const Command& command, const TxFrame& sent, std::span<const std::uint8_t> reply,
                ReplyKind kind)
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
    if (command.kind == Row::Read)
        return Result::Value;
    return std::equal(reply.begin(), reply.end(), sent.begin(), sent.end()) ? Result::Confirmed
                                                                           : Result::OtherReply;
}

// When bytes `from` to `to` - 1 of what was received came in, from the port's receive events.
std::optional<ReplyTiming> TimingOf(const std::vector<Arrival>& arrivals, std::size_t from,
                                    std::size_t to, double sentAt)
{
    if (to <= from)
        return std::nullopt;
    const auto first = std::find_if(arrivals.begin(), arrivals.end(),
                                    [&](const Arrival& a) { return a.total > from; });
    const auto last = std::find_if(first, arrivals.end(),
                                   [&](const Arrival& a) { return a.total >= to; });
    if (last == arrivals.end())
        return std::nullopt;
    return ReplyTiming{first->time - sentAt, last->time - sentAt};
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
    // Both the wait and the reply's timing count from here.
    const double sentAt = line.wait.clock();
    Outcome outcome;
    outcome.sent = frame;
    if (!AwaitReply(command.wait, line.wait)) {
        outcome.result = Result::Abandoned;
        return outcome;
    }
    std::optional<RxBytes> rx = TakeInput(line.port);
    if (!rx) {
        // A write shows nothing of its own, not even a line that failed after its request left.
        if (read)
            return Failed(line, command.kind);
        outcome.result = Result::PortError;
        outcome.error = line.port.Error();
        line.port.Close();
        outcome.detail = Detail(command, outcome);
        return outcome;
    }
    const std::vector<Arrival> arrivals = line.port.Arrivals();
    line.port.Close();

    const auto reply = WithoutEcho(command, frame, std::span(rx->bytes.data(), rx->n));
    const ReplyOutcome checked = CheckReply(reply);
    outcome.result = ResultOf(command, frame, reply, checked.kind);
    outcome.value = checked.value;
    if (read)
        outcome.shown = ResultText(checked);
    outcome.echo = rx->n - reply.size();
    outcome.timing = TimingOf(arrivals, outcome.echo, rx->n, sentAt);
    outcome.received = std::move(*rx);
    outcome.detail = Detail(command, outcome);
    return outcome;
}
