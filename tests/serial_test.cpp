// A terminal's marked input (PARMRK) turned back into the bytes received; a device server's
// address.
#include "serial/device.h"
#include "serial/marked_input.h"

#include <gtest/gtest.h>

namespace {

TEST(MarkedInput, MarkedBytesBecomeQuestionMarksAndEveryOtherByteStays)
{
    const struct
    {
        const char* what;
        std::vector<Bytes> reads;
        Bytes taken;
    } cases[] = {
        {"plain bytes, zero included", {{0x01, 0x00, 0x3F, 0xFE}}, {0x01, 0x00, 0x3F, 0xFE}},
        {"a byte with a parity error", {{0x01, 0xFF, 0x00, 0x84, 0x02}}, {0x01, '?', 0x02}},
        {"a break", {{0xFF, 0x00, 0x00, 0x05}}, {'?', 0x05}},
        {"a received FF, doubled, then a mark", {{0xFF, 0xFF, 0xFF, 0x00, 0xFF}}, {0xFF, '?'}},
        {"marks cut after FF and after FF 00", {{1, 0xFF}, {0, 0x84, 0xFF, 0}, {0}}, {1, '?', '?'}},
        {"a doubled FF cut in two", {{0xFF}, {}, {0xFF, 0x00}}, {0xFF, 0x00}},
    };
    for (const auto& c : cases) {
        MarkedInput input;
        Bytes taken;
        for (const Bytes& read : c.reads)
            input.Decode(read, taken);
        EXPECT_EQ(taken, c.taken) << c.what;
        EXPECT_FALSE(input.InsideMark()) << c.what;
    }
}

TEST(NetworkAddress, IsTcpHostPortAndNothingElse)
{
    const struct
    {
        const char* device;
        const char* host;
        int port;
    } cases[] = {{"tcp://192.168.1.20:4001", "192.168.1.20", 4001},
                 {"TCP://gw-3.lab:502", "gw-3.lab", 502},
                 {"tcp://[::1]:65535", "::1", 65535},
                 {"tcp://[fe80::1%eth0]:1", "fe80::1%eth0", 1}};
    for (const auto& c : cases) {
        const std::optional<NetworkAddress> address = NetworkAddressOf(c.device);
        ASSERT_TRUE(address) << c.device;
        EXPECT_EQ(address->host, c.host) << c.device;
        EXPECT_EQ(address->port, c.port) << c.device;
    }
    // Unbracketed, the last group of an IPv6 address would pass for the port.
    for (const char* refused : {"tcp://::1:502", "tcp://[gw]:502", "tcp://gw:0", "tcp://gw:65536",
                                "tcp://gw:+502", "tcp://gw:", "tcp://gw", "tcp://:502",
                                "tcp://gw:502/", "tcp://g w:502", "/dev/ttyUSB0"})
        EXPECT_FALSE(NetworkAddressOf(refused)) << refused;
}

} // namespace
