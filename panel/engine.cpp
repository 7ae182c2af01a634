#include "panel/engine.h"

#include "panel/detail.h"

#include <algorithm>

namespace {

// What the window's checks make of a reply: a read's value, or a write's confirmation, which is
// the request itself coming back.
Result ResultOf(const Command& command, std::span<const std::uint8_t> sent,
                std::span<const std::uint8_t> reply, ReplyKind kind)
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
    if (command.kind == CommandKind::Read)
        return Result::Value;
    return std::equal(reply.begin(), reply.end(), sent.begin(), sent.end()) ? Result::Confirmed
                                                                           : Result::OtherReply;
}

// The window's requests (one input or holding register read, one holding register written) keep
// the window's checks, which take a correct frame as it is. Every other request is answered only by
// its own reply: a block for another count, another station or another function is a wrong reply,
// not values.
bool WindowRequest(const Request& request)
{
    const bool oneRegister = (request.function == Function::ReadInputRegisters ||
                              request.function == Function::ReadHoldingRegisters) &&
                             request.data == 1;
    return oneRegister || request.function == Function::WriteSingleRegister;
}

Result StrictResult(const Command& command, const ReplyReading& reading)
{
    switch (reading.shape) {
    case ReplyShape::Nothing:
        return Result::NoAnswer;
    case ReplyShape::Whole:
        return reading.exception                   ? Result::Exception
               : command.kind == CommandKind::Read ? Result::Value
                                                   : Result::Confirmed;
    case ReplyShape::Foreign:
        return Result::OtherReply;
    default:
        return Result::CrcError;
    }
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

Outcome Failed(Line& line, CommandKind kind)
{
    Outcome outcome = PortFailure(kind, line.port.Error());
    line.port.Close();
    return outcome;
}

void Append(RxBytes& to, const Bytes& bytes)
{
    to.bytes.insert(to.bytes.end(), bytes.begin(), bytes.end());
    to.n = to.bytes.size();
}

// The wait for the reply and what came, as the command's mode has it. The window waits the whole
// time and then counts and takes; the command-line master takes at every wake and stops at the
// whole reply. Nothing when the port failed.
std::optional<RxBytes> AwaitAndTake(Line& line, const Command& command, const Request& request,
                                    double sentAt, Outcome& outcome)
{
    WaitEnd& end = outcome.waitEnd;
    if (command.mode == WaitMode::Whole) {
        end = AwaitReply(command.wait, line.wait);
        outcome.ended = line.wait.clock() - sentAt;
        return end == WaitEnd::Abandoned ? RxBytes{} : TakeInput(line.port);
    }
    RxBytes got;
    bool failed = false;
    end = AwaitReply(command.wait, line.wait, [&] {
        const std::optional<Bytes> more = line.port.TakeAll();
        if (!more)
            return failed = true;
        Append(got, *more);
        return IsWholeReply(request, WithoutEcho(request, std::span(got.bytes)));
    });
    outcome.ended = line.wait.clock() - sentAt;
    if (failed)
        return std::nullopt;
    if (end == WaitEnd::Elapsed) {
        // What the driver holds at the deadline still counts, as it does for the window.
        const std::optional<RxBytes> last = TakeInput(line.port);
        if (!last)
            return std::nullopt;
        Append(got, last->bytes);
    }
    return got;
}

} // namespace

Outcome PortFailure(CommandKind kind, const PortError& error)
{
    Outcome outcome;
    outcome.result = Result::PortError;
    outcome.shown = "PortErr";
    outcome.error = error;
    outcome.detail = PortFailureDetail(kind, error);
    return outcome;
}

std::optional<Outcome> OpenFor(Line& line, const Command& command)
{
    if (line.port.OpenWithEvents(command.device, command.settings, line.wait))
        return std::nullopt;
    if (line.wait.abandoned && line.wait.abandoned()) {
        line.port.Close();
        Outcome outcome;
        outcome.result = Result::Abandoned;
        return outcome;
    }
    return Failed(line, command.kind);
}

namespace {

// Tries again while nothing or a wrong CRC comes back, up to the command's retries.
template <typename Attempt>
Outcome Tried(const Command& command, Attempt attempt)
{
    for (int tries = 1;; ++tries) {
        Outcome outcome = attempt();
        outcome.tries = tries;
        const bool again = outcome.result == Result::NoAnswer || outcome.result == Result::CrcError;
        if (!again || tries > command.retries) {
            if (tries > 1)
                outcome.detail += "\n" + TriesText(tries);
            return outcome;
        }
    }
}

} // namespace

Outcome Run(Line& line, const Command& command)
{
    return Tried(command, [&] {
        const std::optional<Outcome> failed = OpenFor(line, command);
        return failed ? *failed : Exchange(line, command);
    });
}

Outcome Poll(Line& line, const Command& command)
{
    return Tried(command, [&] { return Exchange(line, command, true); });
}

Outcome Exchange(Line& line, const Command& command, bool keepOpen)
{
    const std::variant<Request, std::string> requested = RequestOf(command);
    if (const std::string* why = std::get_if<std::string>(&requested)) {
        if (!keepOpen)
            line.port.Close();
        Outcome outcome;
        outcome.detail = NothingSentDetail(command.kind, *why);
        return outcome;
    }
    const Request& request = std::get<Request>(requested);
    const Bytes frame = Encode(request);

    // On a port kept open, whatever came since the last exchange (a reply too late for it) is
    // no part of this one.
    if ((keepOpen && !line.port.Discard()) || !line.port.Send(frame))
        return Failed(line, command.kind);
    // Both the wait and the reply's timing count from here.
    const double sentAt = line.wait.clock();
    Outcome outcome;
    outcome.sent = frame;
    std::optional<RxBytes> rx = AwaitAndTake(line, command, request, sentAt, outcome);
    if (outcome.waitEnd == WaitEnd::Abandoned) {
        outcome.result = Result::Abandoned;
        return outcome;
    }
    if (!rx) {
        // A write shows nothing of its own, not even a line that failed after its request left.
        if (command.kind == CommandKind::Read)
            return Failed(line, command.kind);
        outcome.result = Result::PortError;
        outcome.error = line.port.Error();
        line.port.Close();
        outcome.detail = Detail(command, outcome);
        return outcome;
    }
    const std::vector<Arrival> arrivals = line.port.Arrivals();
    if (!keepOpen)
        line.port.Close();

    const auto reply = WithoutEcho(request, std::span(rx->bytes.data(), rx->n));
    outcome.reading = ReadReply(request, reply);
    if (WindowRequest(request)) {
        const ReplyOutcome checked = CheckReply(reply);
        outcome.result = ResultOf(command, frame, reply, checked.kind);
        outcome.value = checked.value;
        if (outcome.result == Result::Value)
            outcome.words = {static_cast<std::uint16_t>(checked.value)};
        if (command.kind == CommandKind::Read)
            outcome.shown = ResultText(checked);
    } else {
        outcome.result = StrictResult(command, outcome.reading);
        const auto whole = reply.subspan(outcome.reading.at, outcome.reading.size);
        if (outcome.result == Result::Value && IsBitFunction(request.function))
            outcome.bits = BitsOf(whole, request.data);
        else if (outcome.result == Result::Value)
            outcome.words = RegistersOf(whole);
        if (!outcome.words.empty())
            outcome.value = static_cast<std::int16_t>(outcome.words[0]);
        if (command.kind == CommandKind::Read)
            outcome.shown = BlockResultText(outcome);
    }
    outcome.echo = rx->n - reply.size();
    outcome.timing = TimingOf(arrivals, outcome.echo, rx->n, sentAt);
    outcome.received = std::move(*rx);
    outcome.detail = Detail(command, outcome);
    return outcome;
}
