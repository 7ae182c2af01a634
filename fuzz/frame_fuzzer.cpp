// The request frame and the CRC under it. Input: bytes 0..5 are station, function, offset high,
// offset low and the two data bytes of a request; the first bytes, as many as byte 0 says, are
// also a message for Crc16.
//
// Holds when: a request is 8 bytes, carries its six fields unchanged, its bytes 6 and 7 are the
// CRC of bytes 0..5 low byte first, and the CRC over all 8 is 0 (the residue a slave checks);
// Crc16 agrees with a table CRC over any bytes, none included.
#include "modbus/frame_codec.h"
#include "oracle.h"

#include <algorithm>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size >= 6) {
        const RegisterRef ref{4, data[2], data[3]};
        const TxFrame frame = BuildRequest(data[0], data[1], ref, data[4], data[5]);
        static_assert(std::tuple_size_v<TxFrame> == 8);
        for (std::size_t i = 0; i < 6; ++i)
            REQUIRE(frame[i] == data[i]);
        const std::uint16_t crc = oracle::Crc(oracle::Bytes(frame.data(), 6));
        REQUIRE(frame[6] == (crc & 0xFF) && frame[7] == (crc >> 8));
        REQUIRE(oracle::Crc(oracle::Bytes(frame.data(), 8)) == 0);

        // And the frame's own CRC agrees with the codec's routine over bytes 0..5.
        const Crc own = Crc16(std::span(frame).first(6));
        REQUIRE(own.CrcLo == frame[6] && own.CrcHi == frame[7]);
    }

    if (size > 0) {
        // The bytes are a copy of exactly their count, so a read past them is caught.
        const std::size_t count = data[0] % (size + 1);
        const std::vector<std::uint8_t> bytes(data, data + count);
        const Crc got = Crc16(bytes);
        const std::uint16_t want = oracle::Crc(oracle::Bytes(bytes.data(), count));
        REQUIRE(got.CrcLo == (want & 0xFF) && got.CrcHi == (want >> 8));
    }
    return 0;
}
