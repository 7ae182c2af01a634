// Request frames against those that libmodbus builds itself, captured on a pseudo-terminal;
// apart from the codec's other tests, which also run where neither of them exists (Windows).
#include "modbus/frame_codec.h"

#include <modbus/modbus.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <pty.h>
#include <random>
#include <termios.h>
#include <unistd.h>

namespace {

TEST(BuildRequest, MatchesTheFramesLibmodbusSends)
{
    // libmodbus appends its own CRC to a raw request; capture what it writes on a pty.
    int master = -1, slave = -1;
    termios raw{};
    cfmakeraw(&raw);
    ASSERT_EQ(openpty(&master, &slave, nullptr, &raw, nullptr), 0);
    modbus_t* ctx = modbus_new_rtu("/dev/null", 19200, 'N', 8, 1);
    ASSERT_NE(ctx, nullptr);
    modbus_set_socket(ctx, slave);

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
    modbus_free(ctx);
    close(slave);
    close(master);
}

} // namespace
