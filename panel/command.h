#pragma once

#include "modbus/protocol.h"
#include "serial/exchange.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

// How long a command waits for its reply by default: the window's whole wait.
constexpr double kReplyWait = 0.2;

enum class CommandKind { Read, Write };

// What a command may reach: the window's registers (a read of an input or holding register, a
// write of one holding register), or every table of the protocol, in blocks.
enum class Reach { Registers, AllTables };

// How a command's wait ends: the window waits the whole time and then reads what came; a
// command-line master stops the moment the reply is whole, and waits at most the whole time.
enum class WaitMode { Whole, UntilReply };

// One command in typed values: a read of `count` registers or bits, a write of one value or of
// several (`values`: registers, or coils 0 and 1).
struct Command
{
    CommandKind kind = CommandKind::Read;
    Reach reach = Reach::Registers;
    std::string device; // as SerialPort::Open takes it
    LineSettings settings;
    std::uint8_t station = 1;
    RegisterRef ref;
    std::uint16_t count = 1;          // a read's
    std::uint16_t value = 0;          // a single write's (a coil: kCoilOn or kCoilOff)
    std::vector<std::uint16_t> values; // a multiple write's, when not empty
    double wait = kReplyWait;
    WaitMode mode = WaitMode::Whole;
    // Tries after the first when nothing or a wrong CRC came back, each a whole command.
    int retries = 0;
};

// The request the command sends, or why it sends none ("the address is not a holding register
// (4xxxx)"): which tables a read and a write accept, and how many values.
std::variant<Request, std::string> RequestOf(const Command& command);

// What came back. A read gives Value; a write's reply is Confirmed when it is the request itself,
// as a slave confirms, and OtherReply when it has a good CRC but other contents.
enum class Result {
    Value,
    Confirmed,
    NoAnswer,
    CrcError,
    Exception,
    OtherReply,
    PortError,
    NotSent,
    Abandoned
};

// When the reply's first and last bytes came, in seconds after the request was sent.
struct ReplyTiming
{
    double first = 0;
    double last = 0;
};

// What a command did: what the result field shows, what went over the line, and the detail.
struct Outcome
{
    Result result = Result::NotSent;
    std::int16_t value = 0;           // Result::Value
    std::optional<std::string> shown; // the result field's new text; nothing: it stays as it was
    std::optional<Bytes> sent;
    RxBytes received;
    std::size_t echo = 0; // received bytes that were an adapter's echo of the request
    ReplyReading reading; // of what followed the echo
    // A block's contents (Result::Value of a request the window cannot send): its registers, or
    // its bits.
    std::vector<std::uint16_t> words;
    std::vector<bool> bits;
    std::optional<ReplyTiming> timing;
    WaitEnd waitEnd = WaitEnd::Elapsed;
    double ended = 0; // seconds from the request to the end of the wait
    int tries = 1;
    PortError error; // Result::PortError
    std::string detail;
};
