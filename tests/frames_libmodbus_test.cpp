// Request frames against those that libmodbus builds itself, captured on a pseudo-terminal;
// apart from the codec's other tests, which also run where neither of them exists (Windows).
#include "modbus/frame_codec.h"
#include "modbus/protocol.h"

#include <modbus/modbus.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <poll.h>
#include <pty.h>
#include <random>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace {

// A libmodbus master writing to a pty whose other end the test reads.
struct LibmodbusOnPty
{
    int master = -1;
    int slave = -1;
    modbus_t* ctx = nullptr;

    LibmodbusOnPty(const LibmodbusOnPty&) = delete;
    LibmodbusOnPty()
    {
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        ctx = modbus_new_rtu("/dev/null", 19200, 'N', 8, 1);
        modbus_set_socket(ctx, slave);
    }
    ~LibmodbusOnPty()
    {
        modbus_free(ctx);
        close(slave);
        close(master);
    }
};

TEST(BuildRequest, MatchesTheFramesLibmodbusSends)
{
    // libmodbus appends its own CRC to a raw request; capture what it writes on a pty.
    const LibmodbusOnPty pty;
    const auto& [master, slave, ctx] = pty;

    std::mt19937 random(2026);
    for (int i = 0; i < 200; ++i) {
        const std::uint8_t function = std::array<std::uint8_t, 3>{3, 4, 6}[i % 3];
        const RegisterRef ref{4, static_cast<std::uint8_t>(random()),
                              static_cast<std::uint8_t>(random())};
        const auto station = static_cast<std::uint8_t>(random());
        const auto b4 = static_cast<std::uint8_t>(function == 6 ? random() : 0);
        const auto b5 = static_cast<std::uint8_t>(function == 6 ? random() : 1);
        const TxFrame frame = BuildRequest(station, function, ref, b4, b5);

        const std::uint8_t body[6] = {station, function, ref.OffsetHi, ref.OffsetLo, b4, b5};
        ASSERT_EQ(modbus_send_raw_request(ctx, body, 6), 8);
        std::uint8_t wire[8] = {};
        ASSERT_EQ(read(master, wire, 8), 8);
        EXPECT_EQ(0, std::memcmp(wire, frame.data(), 8)) << "case " << i;
    }
}

// Every function at counts up to the protocol's limits, against libmodbus's own calls, each of
// which sends its request and then gives up waiting for the reply after a millisecond.
TEST(Encode, MatchesTheRequestsOfLibmodbusForEveryFunction)
{
    const LibmodbusOnPty pty;
    const auto& [master, slave, ctx] = pty;
    modbus_set_response_timeout(ctx, 0, 1000);

    const std::uint8_t functions[] = {1, 2, 3, 4, 5, 6, 15, 16};
    std::mt19937 random(2026);
    for (int i = 0; i < 160; ++i) {
        Request request;
        request.function = functions[i % 8];
        request.station = static_cast<std::uint8_t>(1 + random() % 247);
        const std::uint16_t most = MostCount(request.function);
        // The limits themselves, then counts anywhere up to them.
        const auto count = static_cast<std::uint16_t>(i < 16 ? (i < 8 ? 1 : most) : 1 + random() % most);
        const auto address = static_cast<std::uint16_t>(random() % (65536 - count));
        request.ref = ReferenceAt(4, address);
        request.data = request.function == 5 ? (random() % 2 ? kCoilOn : kCoilOff)
                       : request.function == 6 ? static_cast<std::uint16_t>(random())
                                               : count;
        std::vector<std::uint8_t> bits;
        std::vector<std::uint16_t> words;
        for (int k = 0; k < count && request.function >= 15; ++k) {
            request.values.push_back(static_cast<std::uint16_t>(request.function == 15 ? random() % 2 : random()));
            bits.push_back(static_cast<std::uint8_t>(request.values.back()));
            words.push_back(request.values.back());
        }
        modbus_set_slave(ctx, request.station);
        std::uint8_t bitsRead[2000];
        std::uint16_t wordsRead[125];
        switch (request.function) {
        case 1: modbus_read_bits(ctx, address, count, bitsRead); break;
        case 2: modbus_read_input_bits(ctx, address, count, bitsRead); break;
        case 3: modbus_read_registers(ctx, address, count, wordsRead); break;
        case 4: modbus_read_input_registers(ctx, address, count, wordsRead); break;
        case 5: modbus_write_bit(ctx, address, request.data == kCoilOn); break;
        case 6: modbus_write_register(ctx, address, request.data); break;
        case 15: modbus_write_bits(ctx, address, count, bits.data()); break;
        case 16: modbus_write_registers(ctx, address, count, words.data()); break;
        }
        // What libmodbus wrote: as many bytes as ours, and whatever more comes within 2 ms.
        const Bytes frame = Encode(request);
        std::vector<std::uint8_t> wire;
        std::uint8_t chunk[512];
        for (pollfd p{master, POLLIN, 0}; poll(&p, 1, wire.size() < frame.size() ? 500 : 2) > 0;) {
            const ssize_t n = read(master, chunk, sizeof chunk);
            if (n <= 0)
                break;
            wire.insert(wire.end(), chunk, chunk + n);
        }
        EXPECT_EQ(wire, frame) << "function " << int(request.function) << ", count " << count;
    }
}

} // namespace
