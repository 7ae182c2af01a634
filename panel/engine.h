#pragma once

#include "modbus/frame_codec.h"
#include "panel/panel.h"
#include "serial/exchange.h"

#include <cstdint>
#include <optional>
#include <string>

// How long a command waits after its request, whatever the slave does.
constexpr double kReplyWait = 0.2;

// Everything a command runs on: a serial port, and the wait's clock and event pump.
struct Line
{
    SerialPort& port;
    WaitServices wait;
};

// One command in typed values: a read of one register (area 3 or 4) or a write of one holding
// register (area 4).
struct Command
{
    Row kind = Row::Read;
    std::string device; // as SerialPort::Open takes it
    LineSettings settings;
    std::uint8_t station = 1;
    RegisterRef ref;
    std::uint16_t value = 0; // a write's
    double wait = kReplyWait;
};

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
    std::optional<TxFrame> sent;
    RxBytes received;
    std::size_t echo = 0; // received bytes that were an adapter's echo of the request
    std::optional<ReplyTiming> timing;
    PortError error; // Result::PortError
    std::string detail;
};

// The function code of a read: 4 for an input register (area 3), 3 for a holding register (area
// 4), nothing for another area.
std::optional<std::uint8_t> ReadFunction(const RegisterRef& ref);

// A whole command: opens the port, sends, waits, takes a read's reply, closes the port.
Outcome Run(Line& line, const Command& command);
// The same from the send on, for a caller that opened the port itself (the window reads its
// fields only once the port is open). Ends with the port closed, unless the command was given up:
// then the port and everything else is left alone.
Outcome Exchange(Line& line, const Command& command);
// The outcome of a port that failed, at the open or later.
Outcome PortFailure(Row kind, const PortError& error);
