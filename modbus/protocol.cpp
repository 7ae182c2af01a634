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

bool IsSingleWrite(std::uint8_t function)
{
    return function == Function::WriteSingleCoil || function == Function::WriteSingleRegister;
}

// The data bytes of a read's reply or a multiple write's request: a bit each, packed eight to a
// byte, or two a register.
std::size_t DataBytes(std::uint8_t function, std::size_t count)
{
    return IsBitFunction(function) ? (count + 7) / 8 : 2 * count;
}

std::size_t DataBytes(const Request& request)
{
    return DataBytes(request.function, request.data);
}

void Put16(Bytes& frame, std::uint16_t word)
{
    frame.push_back(static_cast<std::uint8_t>(word >> 8));
    frame.push_back(static_cast<std::uint8_t>(word & 0xFF));
}

// Whether the frame, whose CRC is good, is the normal reply or the exception for the request.
bool Answers(const Request& request, std::span<const std::uint8_t> sent,
             std::span<const std::uint8_t> frame)
{
    if (frame[0] != request.station)
        return false;
    if (frame.size() == kExceptionSize && frame[1] == (request.function | kExceptionBit))
        return true;
    if (frame.size() != ReplySize(request) || frame[1] != request.function)
        return false;
    if (IsRead(request.function))
        return frame[2] == DataBytes(request);
    if (IsSingleWrite(request.function))
        return std::equal(frame.begin(), frame.end(), sent.begin(), sent.end());
    // A multiple write's reply: its address and count, as sent.
    return std::equal(frame.begin() + 2, frame.begin() + 6, sent.begin() + 2);
}

bool IsReplyAt(const Request& request, std::span<const std::uint8_t> sent,
               std::span<const std::uint8_t> frame)
{
    return GoodCrc(frame) && Answers(request, sent, frame);
}

} // namespace

std::optional<std::uint8_t> ReadFunctionFor(const RegisterRef& ref)
{
    switch (ref.AreaDigit) {
    case kCoilArea:
        return Function::ReadCoils;
    case kDiscreteInputArea:
        return Function::ReadDiscreteInputs;
    case kInputRegisterArea:
        return Function::ReadInputRegisters;
    case kHoldingRegisterArea:
        return Function::ReadHoldingRegisters;
    default:
        return std::nullopt;
    }
}

std::optional<std::uint8_t> WriteFunctionFor(const RegisterRef& ref, bool several)
{
    if (ref.AreaDigit == kCoilArea)
        return several ? Function::WriteMultipleCoils : Function::WriteSingleCoil;
    if (ref.AreaDigit == kHoldingRegisterArea)
        return several ? Function::WriteMultipleRegisters : Function::WriteSingleRegister;
    return std::nullopt;
}

bool IsBitFunction(std::uint8_t function)
{
    return function == Function::ReadCoils || function == Function::ReadDiscreteInputs ||
           function == Function::WriteSingleCoil || function == Function::WriteMultipleCoils;
}

std::uint16_t MostCount(std::uint8_t function)
{
    if (IsRead(function))
        return IsBitFunction(function) ? kMostBitsRead : kMostRegistersRead;
    if (IsSingleWrite(function))
        return 1;
    return IsBitFunction(function) ? kMostBitsWritten : kMostRegistersWritten;
}

bool IsSixDigitReference(std::string_view text)
{
    const std::size_t from = text.find_first_not_of(" \t");
    const std::size_t to = text.find_last_not_of(" \t");
    if (from == std::string_view::npos)
        return false;
    text = text.substr(from, to + 1 - from);
    return text.size() == 6 && std::all_of(text.begin(), text.end(),
                                            [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<RegisterRef> SixDigitReference(std::string_view text)
{
    if (!IsSixDigitReference(text))
        return std::nullopt;
    const std::size_t from = text.find_first_not_of(" \t");
    const int area = text[from] - '0';
    int number = 0;
    for (const char c : text.substr(from + 1, 5))
        number = number * 10 + (c - '0');
    if (!ReadFunctionFor(RegisterRef{area}) || number < 1 || number > 65536)
        return std::nullopt;
    return ReferenceAt(area, static_cast<std::uint16_t>(number - 1));
}

RegisterRef ReferenceAt(int area, std::uint16_t address)
{
    return RegisterRef{area, static_cast<std::uint8_t>(address >> 8),
                       static_cast<std::uint8_t>(address & 0xFF)};
}

std::uint16_t AddressOf(const RegisterRef& ref)
{
    return static_cast<std::uint16_t>(ref.OffsetHi << 8 | ref.OffsetLo);
}

double FrameSilence(int baud, int bitsPerCharacter)
{
    constexpr double kFastest = 0.00175;
    return baud > 19200 || baud <= 0 ? kFastest : 3.5 * bitsPerCharacter / baud;
}

Bytes Encode(const Request& request)
{
    Bytes frame{request.station, request.function, request.ref.OffsetHi, request.ref.OffsetLo};
    const bool multiple = request.function == Function::WriteMultipleCoils ||
                          request.function == Function::WriteMultipleRegisters;
    if (!multiple) {
        Put16(frame, request.data);
    } else {
        const std::size_t count = request.values.size();
        Put16(frame, static_cast<std::uint16_t>(count));
        frame.push_back(static_cast<std::uint8_t>(DataBytes(request.function, count)));
        if (IsBitFunction(request.function)) {
            // Coils packed eight to a byte, the first in the lowest bit.
            for (std::size_t i = 0; i < count; i += 8) {
                std::uint8_t byte = 0;
                for (std::size_t bit = 0; bit < 8 && i + bit < count; ++bit)
                    byte |= (request.values[i + bit] ? 1 : 0) << bit;
                frame.push_back(byte);
            }
        } else {
            for (const std::uint16_t word : request.values)
                Put16(frame, word);
        }
    }
    const Crc crc = Crc16(frame);
    frame.push_back(crc.CrcLo);
    frame.push_back(crc.CrcHi);
    return frame;
}

std::size_t ReplySize(const Request& request)
{
    if (IsRead(request.function))
        return kReadReplyOverhead + DataBytes(request);
    // A single write's reply is the request sent back; a multiple write's names the address and
    // count: either is eight bytes.
    return TxFrame{}.size();
}

ReplyReading ReadReply(const Request& request, std::span<const std::uint8_t> rx)
{
    const Bytes sent = Encode(request);
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
    // A frame whole in itself (station, function, data, CRC) answers something else: another
    // station, function or count.
    constexpr std::size_t kShortestFrame = 4;
    if (n >= kShortestFrame && GoodCrc(rx)) {
        reading.shape = ReplyShape::Foreign;
        return reading;
    }
    if (!reading.otherStation && !reading.otherFunction) {
        reading.needed = reading.exception ? kExceptionSize : ReplySize(request);
        if (n < reading.needed) {
            reading.shape = ReplyShape::CutShort;
            return reading;
        }
    }
    reading.needed = n;
    reading.shape = ReplyShape::Garbled;
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
    const Bytes sent = Encode(request);
    const bool repliesWithRequest = IsSingleWrite(request.function);
    const std::size_t least = repliesWithRequest ? sent.size() + 1 : sent.size();
    if (rx.size() >= least && std::equal(sent.begin(), sent.end(), rx.begin()))
        return rx.subspan(sent.size());
    return rx;
}

int ReferenceNumber(const RegisterRef& ref)
{
    // Five digits as far as they reach, as the operator writes them; six beyond.
    const int offset = AddressOf(ref);
    return ref.AreaDigit * (offset < 10000 ? 10000 : 100000) + offset + 1;
}

std::string ReferenceText(const RegisterRef& ref)
{
    const int number = ReferenceNumber(ref);
    std::string text = std::to_string(number);
    const std::size_t digits = AddressOf(ref) < 10000 ? 5 : 6;
    return std::string(text.size() < digits ? digits - text.size() : 0, '0') + text;
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

std::vector<std::uint16_t> RegistersOf(std::span<const std::uint8_t> reply)
{
    std::vector<std::uint16_t> words(reply[2] / 2);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = RegisterOf(reply, i);
    return words;
}

std::vector<bool> BitsOf(std::span<const std::uint8_t> reply, std::size_t count)
{
    constexpr std::size_t data = 3;
    std::vector<bool> bits(std::min(count, std::size_t{reply[2]} * 8));
    for (std::size_t i = 0; i < bits.size(); ++i)
        bits[i] = reply[data + i / 8] >> (i % 8) & 1;
    return bits;
}
