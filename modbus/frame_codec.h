#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <vector>

using Bytes = std::vector<std::uint8_t>;

// One Modbus RTU request: station, function, two address bytes, two data bytes, CRC low, high.
using TxFrame = std::array<std::uint8_t, 8>;

struct Crc
{
    std::uint8_t CrcLo;
    std::uint8_t CrcHi;
};

// CRC-16/MODBUS over the bytes; over no bytes it is FF FF.
Crc Crc16(std::span<const std::uint8_t> bytes);

// An operator's register reference: 30001.. are input registers (area 3), 40001.. holding
// registers (area 4), both counting from 1; offset = OffsetHi * 256 + OffsetLo.
struct RegisterRef
{
    int AreaDigit = 0;
    std::uint8_t OffsetHi = 0;
    std::uint8_t OffsetLo = 0;
};

// Decodes a reference text. Only the last five digits count (130002 is 30002). Nothing when the
// text's number lies beyond the double range; any other text gives some area digit, and the
// caller refuses those it does not serve.
std::optional<RegisterRef> DecodeReference(std::string_view text);

TxFrame BuildRequest(std::uint8_t station, std::uint8_t function, const RegisterRef& ref,
                     std::uint8_t byte4, std::uint8_t byte5);

enum class ReplyKind { NoAnswer, CrcError, Exception, Value };

struct ReplyOutcome
{
    ReplyKind kind = ReplyKind::NoAnswer;
    std::int16_t value = 0;
};

// Classifies a reply. Checks, first match wins: nothing received; last two bytes not the CRC of
// the rest; exception bit in byte 1; else the value in bytes 3 and 4. Station, function and byte
// count are not compared with the request. Replies too short to hold what the checks read count
// as CRC errors.
ReplyOutcome CheckReply(std::span<const std::uint8_t> reply);

// The standard name of a Modbus exception code, or an empty text for an unknown one.
std::string ExceptionName(std::uint8_t code);
