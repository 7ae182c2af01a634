// A terminal's marked input (PARMRK) turned back into the bytes received.
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

} // namespace
