#include "modbus/protocol.h"

#include <algorithm>

namespace {

bool GoodCrc(std::span<const std::uint8_t> frame)
{
    if (frame.size() < kCrcSize + 1)
        return false;
    const Crc crc = Crc16(frame.first(frame.size() - kCrcSize));
    return crc.CrcLo == frame[frame.size() - 2] && crc.CrcHi == frame[frame.size() - 1];
}

bool IsRead(std::uint8_t function)
{
    return function >= Function::ReadCoils && function <= Function::ReadInputRegisters;
}

bool IsBitRead(std::uint8_t function)
{
    return function == Function::ReadCoils || function == Function::ReadDiscreteInputs;
}

// The data bytes a read's reply carries: a bit each, packed eight to a byte, or two a register.
std::size_t DataBytes(const Request& request)
{
    return IsBitRead(request.function) ? (request.data + 7u) / 8u : 2u * request.data;
}

// Whether the frame, whose CRC is good, is the normal reply or the exception for the request.
bool Answers(const Request& request, const TxFrame& sent, std::span<const std::uint8_t> frame)
{
    if (frame[0] != request.station)
        return false;
    if (frame.size() == kExceptionSize && frame[1] == (request.function | kExceptionBit))
        return true;
    if (frame.size() != ReplySize(request) || frame[1] != request.function)
        return false;
    if (IsRead(request.function))
        return frame[2] == DataBytes(request);
    if (request.function == Function::WriteSingleCoil ||
        request.function == Function::WriteSingleRegister)
        return std::equal(frame.begin(), frame.end(), sent.begin(), sent.end());
    // A multiple write's reply: its address and count, as sent.
    return std::equal(frame.begin() + 2, frame.begin() + 6, sent.begin() + 2);
}

bool IsReplyAt(const Request& request, const TxFrame& sent, std::span<const std::uint8_t> frame)
{
    return GoodCrc(frame) && Answers(request, sent, frame);
}

} // namespace

std::optional<std::uint8_t> ReadFunctionFor(const RegisterRef& ref)
{
    if (ref.AreaDigit == kInputRegisterArea)
        return Function::ReadInputRegisters;
    if (ref.AreaDigit == kHoldingRegisterArea)
        return Function::ReadHoldingRegisters;
    return std::nullopt;
}

std::optional<std::uint8_t> WriteFunctionFor(const RegisterRef& ref)
{
    if (ref.AreaDigit == kHoldingRegisterArea)
        return Function::WriteSingleRegister;
    return std::nullopt;
}

TxFrame Encode(const Request& request)
{
    return BuildRequest(request.station, request.function, request.ref,
                        static_cast<std::uint8_t>(request.data >> 8),
                        static_cast<std::uint8_t>(request.data & 0xFF));
}

std::size_t ReplySize(const Request& request)
{
    if (IsRead(request.function))
        return kReadReplyOverhead + DataBytes(request);
    return TxFrame{}.size(); // a write's reply is as long as an eight-byte request
}

ReplyReading ReadReply(const Request& request, std::span<const std::uint8_t> rx)
{
    const TxFrame sent = Encode(request);
    const std::size_t n = rx.size();
    ReplyReading reading;
    reading.size = reading.needed = n;
    if (n == 0)
        return reading;
    // A reply found whole, alone or among stray bytes; the first one wins.
    for (std::size_t at = 0; at < n; ++at)
        for (const std::size_t size : {ReplySize(request), kExceptionSize}) {
            if (at + size > n || !IsReplyAt(request, sent, rx.subspan(at, size)))
                continue;
            reading.shape = at == 0 && size == n ? ReplyShape::Whole : ReplyShape::AmongStray;
            reading.at = at;
            reading.size = reading.needed = size;
            reading.exception = (rx[at + 1] & kExceptionBit) != 0;
            return reading;
        }
    reading.otherStation = rx[0] != request.station;
    reading.otherFunction = n > 1 && (rx[1] & ~kExceptionBit) != request.function;
    reading.exception = n > 1 && (rx[1] & kExceptionBit) != 0;
    if (!reading.otherStation && !reading.otherFunction) {
        reading.needed = reading.exception ? kExceptionSize : ReplySize(request);
        if (n < reading.needed) {
            reading.shape = ReplyShape::CutShort;
            return reading;
        }
    }
    reading.needed = n;
    reading.shape = GoodCrc(rx) ? ReplyShape::Foreign : ReplyShape::Garbled;
    return reading;
}

bool IsWholeReply(const Request& request, std::span<const std::uint8_t> rx)
{
    // Only the two lengths a reply can have are worth a CRC: a babbling line costs nothing.
    if (rx.size() != ReplySize(request) && rx.size() != kExceptionSize)
        return false;
    return IsReplyAt(request, Encode(request), rx);
}

std::span<const std::uint8_t> WithoutEcho(const Request& request, std::span<const std::uint8_t> rx)
{
    const TxFrame sent = Encode(request);
    const bool repliesWithRequest = ReplySize(request) == sent.size() &&
                                    (request.function == Function::WriteSingleCoil ||
                                     request.function == Function::WriteSingleRegister);
    const std::size_t least = repliesWithRequest ? sent.size() + 1 : sent.size();
    if (rx.size() >= least && std::equal(sent.begin(), sent.end(), rx.begin()))
        return rx.subspan(sent.size());
    return rx;
}

int ReferenceNumber(const RegisterRef& ref)
{
    return ref.AreaDigit * 10000 + ref.OffsetHi * 256 + ref.OffsetLo + 1;
}

std::uint16_t RegisterOf(std::span<const std::uint8_t> reply, std::size_t i)
{
    constexpr std::size_t data = 3; // after station, function and byte count
    return static_cast<std::uint16_t>(reply[data + 2 * i] << 8 | reply[data + 2 * i + 1]);
}

std::uint8_t ExceptionCodeOf(std::span<const std::uint8_t> reply)
{
    return reply[2];
}

std::uint8_t StationOf(std::span<const std::uint8_t> frame)
{
    return frame[0];
}

std::uint8_t FunctionOf(std::span<const std::uint8_t> frame)
{
    return frame[1] & static_cast<std::uint8_t>(~kExceptionBit);
}
