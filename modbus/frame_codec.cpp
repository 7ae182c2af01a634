#include "modbus/frame_codec.h"

#include "modbus/numbers.h"

#include <algorithm>
#include <cmath>

Crc Crc16(std::span<const std::uint8_t> bytes)
{
    std::uint16_t reg = 0xFFFF;
    for (const std::uint8_t byte : bytes) {
        reg ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = reg & 1;
            reg >>= 1;
            if (carry)
                reg ^= 0xA001;
        }
    }
    return Crc{static_cast<std::uint8_t>(reg & 0xFF), static_cast<std::uint8_t>(reg >> 8)};
}

std::optional<RegisterRef> DecodeReference(std::string_view text)
{
    const std::optional<double> x = NumberFromText(text);
    if (!x)
        return std::nullopt;
    // Works on the text: the leading space of a positive number or its sign lands among the last
    // five characters of short numbers and reads as area 0.
    std::string t = "00000" + TextFromNumber(*x - 1);
    t = t.substr(t.size() - 5);
    RegisterRef ref;
    ref.AreaDigit = static_cast<int>(NumberFromText(t.substr(0, 1)).value_or(0));
    const double v = NumberFromText(t.substr(1)).value_or(0); // four characters: always in range
    ref.OffsetHi = static_cast<std::uint8_t>(static_cast<int>(std::floor(v / 256)) & 0xFF);
    ref.OffsetLo = static_cast<std::uint8_t>(static_cast<int>(RoundHalfEven(v)) & 0xFF);
    return ref;
}

TxFrame BuildRequest(std::uint8_t station, std::uint8_t function, const RegisterRef& ref,
                     std::uint8_t byte4, std::uint8_t byte5)
{
    TxFrame frame{station, function, ref.OffsetHi, ref.OffsetLo, byte4, byte5, 0, 0};
    const Crc crc = Crc16(std::span(frame).first(6));
    frame[6] = crc.CrcLo;
    frame[7] = crc.CrcHi;
    return frame;
}

ReplyOutcome CheckReply(std::span<const std::uint8_t> rx)
{
    const std::size_t n = rx.size();
    const Crc crc = Crc16(rx.first(n < 2 ? 0 : n - 2));
    if (n == 0)
        return {ReplyKind::NoAnswer};
    // One byte has no CRC to compare with.
    if (n == 1 || crc.CrcLo != rx[n - 2] || crc.CrcHi != rx[n - 1])
        return {ReplyKind::CrcError};
    if (rx[1] >= 128)
        return {ReplyKind::Exception};
    // A correct CRC over too few bytes to hold a register value is still no valid reply.
    if (n < 5)
        return {ReplyKind::CrcError};
    return {ReplyKind::Value,
            static_cast<std::int16_t>(static_cast<std::uint16_t>(rx[3] << 8 | rx[4]))};
}

std::string ExceptionName(std::uint8_t code)
{
    switch (code) {
    case 0x01:
        return "Illegal function";
    case 0x02:
        return "Illegal data address";
    case 0x03:
        return "Illegal data value";
    case 0x04:
        return "Server device failure";
    case 0x05:
        return "Acknowledge";
    case 0x06:
        return "Server device busy";
    case 0x08:
        return "Memory parity error";
    case 0x0A:
        return "Gateway path unavailable";
    case 0x0B:
        return "Gateway target device failed to respond";
    default:
        return "";
    }
}
