// CheckReply, and the reading of a reply to a request, over whatever a line can deliver: any bytes, any count. Input: byte 0 is the count
// n (255 stands for "as many as can be") taken before the bytes, the rest are the received bytes;
// the reply is the first n of them, as a command hands it over.
//
// Holds when: it never reads outside the bytes it was given (the bytes are copied into a buffer
// of exactly their size, so AddressSanitizer sees every stray read), it never looks past the
// first n, and its outcome is the one the reply checks call for.
#include "modbus/frame_codec.h"
#include "modbus/protocol.h"
#include "oracle.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <span>

namespace {

ReplyOutcome Expected(std::size_t n, const std::uint8_t* rx, std::size_t size)
{
    n = std::min(n, size);
    if (n == 0)
        return {ReplyKind::NoAnswer};
    if (n == 1)
        return {ReplyKind::CrcError}; // no CRC to compare with
    const std::uint16_t crc = oracle::Crc(oracle::Bytes(rx, n - 2));
    if (rx[n - 2] != (crc & 0xFF) || rx[n - 1] != (crc >> 8))
        return {ReplyKind::CrcError};
    if (rx[1] >= 128)
        return {ReplyKind::Exception};
    if (n < 5)
        return {ReplyKind::CrcError}; // a valid CRC, but no room for a register value
    return {ReplyKind::Value,
            static_cast<std::int16_t>(static_cast<std::uint16_t>(rx[3] << 8 | rx[4]))};
}

// A heap copy of exactly `size` bytes, so that one byte further is a detected overflow.
std::unique_ptr<std::uint8_t[]> ExactCopy(const std::uint8_t* data, std::size_t size)
{
    auto copy = std::make_unique<std::uint8_t[]>(size == 0 ? 1 : size);
    if (size > 0)
        std::memcpy(copy.get(), data, size);
    return copy;
}

bool Same(const ReplyOutcome& a, const ReplyOutcome& b)
{
    return a.kind == b.kind && (a.kind != ReplyKind::Value || a.value == b.value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return -1;
    const std::size_t n = data[0] == 255 ? std::numeric_limits<std::size_t>::max() : data[0];
    const std::size_t rxSize = size - 1;
    const auto rx = ExactCopy(data + 1, rxSize);
    const std::span<const std::uint8_t> bytes(rx.get(), rxSize);

    const std::size_t m = std::min(n, rxSize);
    const auto head = ExactCopy(rx.get(), m);
    const ReplyOutcome got = CheckReply(std::span<const std::uint8_t>(head.get(), m));
    const ReplyOutcome want = Expected(n, rx.get(), rxSize);
    REQUIRE(Same(got, want));

    // The properties on their own, so that a fault shared with Expected still shows.
    if (m == 0)
        REQUIRE(got.kind == ReplyKind::NoAnswer);
    if (got.kind == ReplyKind::Value) {
        REQUIRE(m >= 5 && bytes[1] < 128);
        REQUIRE(oracle::Crc(oracle::Bytes(bytes.data(), m)) == 0); // CRC residue of a good frame
        REQUIRE(got.value == static_cast<std::int16_t>(bytes[3] * 256 + bytes[4]));
    }
    if (got.kind == ReplyKind::Exception)
        REQUIRE(m >= 2 && bytes[1] >= 128 && oracle::Crc(oracle::Bytes(bytes.data(), m)) == 0);

    // The same bytes as a reply to a request that the count picks: every function this master
    // sends, counts from 1 to 125 and the station of the first byte, so that some replies fit.
    static constexpr std::uint8_t functions[] = {
        Function::ReadCoils,          Function::ReadDiscreteInputs,
        Function::ReadHoldingRegisters, Function::ReadInputRegisters,
        Function::WriteSingleCoil,    Function::WriteSingleRegister,
        Function::WriteMultipleCoils, Function::WriteMultipleRegisters};
    const std::span<const std::uint8_t> reply(head.get(), m);
    const auto count = static_cast<std::uint16_t>(1 + data[0] % 125);
    Request request{m > 0 ? reply[0] : std::uint8_t{1}, functions[data[0] % 8], {}, count, {}};
    if (request.function == Function::WriteMultipleCoils ||
        request.function == Function::WriteMultipleRegisters)
        request.values.assign(count, 1);
    const ReplyReading reading = ReadReply(request, reply);
    REQUIRE(reading.at + reading.size <= m);
    REQUIRE((reading.shape == ReplyShape::Nothing) == (m == 0));
    REQUIRE((reading.shape == ReplyShape::Whole) == IsWholeReply(request, reply));
    if (reading.shape == ReplyShape::Whole || reading.shape == ReplyShape::AmongStray)
        REQUIRE(reading.size == reading.needed &&
                oracle::Crc(oracle::Bytes(reply.data() + reading.at, reading.size)) == 0);
    if (reading.shape == ReplyShape::CutShort)
        REQUIRE(reading.size < reading.needed);
    const std::span<const std::uint8_t> rest = WithoutEcho(request, reply);
    REQUIRE(rest.data() + rest.size() == reply.data() + m);
    return 0;
}
