// CRC, reference decoding and reply checks. Expected bytes come from outside this code: the
// CRC-16/MODBUS check value and standard replies (request frames: frames_libmodbus_test.cpp).
#include "modbus/frame_codec.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using ByteList = std::vector<std::uint8_t>;

TEST(Crc16, MatchesTheStandardCheckValues)
{
    const std::string digits = "123456789";
    const ByteList ascii(digits.begin(), digits.end());
    const Crc check = Crc16(ascii);
    EXPECT_EQ(check.CrcLo, 0x37);
    EXPECT_EQ(check.CrcHi, 0x4B);

    const Crc none = Crc16({});
    EXPECT_EQ(none.CrcLo, 0xFF);
    EXPECT_EQ(none.CrcHi, 0xFF);
}

TEST(DecodeReference, SplitsAreaAndOffset)
{
    struct Case
    {
        const char* text;
        int area;
        int offset; // -1: not checked (refused areas)
    } cases[] = {
        {"30001", 3, 0},    {"30002", 3, 1},    {"40000", 3, 9999}, {"40001", 4, 0},
        {"41001", 4, 1000}, {"50000", 4, 9999}, {"50001", 5, -1},   {"30000", 2, -1},
        {"5", 0, -1},       {"", 0, -1},        {"130002", 3, 1},   {" 4 0 0 0 2", 4, 1},
        {"40002abc", 4, 1}, {"&H9C42", 4, 1},   {"30001.5", 0, -1},
    };
    for (const Case& c : cases) {
        const std::optional<RegisterRef> ref = DecodeReference(c.text);
        ASSERT_TRUE(ref.has_value()) << c.text;
        EXPECT_EQ(ref->AreaDigit, c.area) << c.text;
        if (c.offset >= 0) {
            EXPECT_EQ(ref->OffsetHi * 256 + ref->OffsetLo, c.offset) << c.text;
        }
    }
    EXPECT_FALSE(DecodeReference("1E400").has_value());
}

TEST(CheckReply, ClassifiesInAFixedOrder)
{
    struct Case
    {
        ByteList rx;
        ReplyKind kind;
        int value;
    } cases[] = {
        {{0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF}, ReplyKind::Value, 42},
        {{0x01, 0x04, 0x02, 0x7F, 0xFF, 0xD9, 0x40}, ReplyKind::Value, 32767},
        {{0x01, 0x04, 0x02, 0x80, 0x00, 0xD8, 0xF0}, ReplyKind::Value, -32768},
        {{0x01, 0x04, 0x02, 0xFF, 0xFE, 0x79, 0x40}, ReplyKind::Value, -2},
        {{0x01, 0x84, 0x02, 0xC2, 0xC1}, ReplyKind::Exception, 0},
        {{0x01, 0x80, 0x01, 0x80, 0x00}, ReplyKind::Exception, 0}, // bit 7 alone
        {{0x01, 0x84, 0x02, 0xC2, 0xC0}, ReplyKind::CrcError, 0}, // the CRC is checked first
        {{}, ReplyKind::NoAnswer, 0},
        {{0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEE}, ReplyKind::CrcError, 0},
        {{0x01, 0x04, 0x02, 0x00, 0x2A, 0x39, 0xEF}, ReplyKind::CrcError, 0},
        {{0x02, 0x04, 0x02, 0x00, 0x2A, 0x7C, 0xEF}, ReplyKind::Value, 42},
        {{0x01, 0x03, 0x02, 0x00, 0x2A, 0x39, 0x9B}, ReplyKind::Value, 42},
        {{0x01, 0x04, 0x04, 0x00, 0x2A, 0x00, 0x00, 0xDA, 0x4C}, ReplyKind::Value, 42},
        {{0xFF, 0xFF}, ReplyKind::Exception, 0},
        {{0x12, 0x34}, ReplyKind::CrcError, 0},
        {{0x01, 0x04, 0x02, 0xA3, 0x01}, ReplyKind::Value, -23807},
        // Too short for what the checks read: no value can be made of them.
        {{0x01}, ReplyKind::CrcError, 0},
        {{0x01, 0x7E, 0x80}, ReplyKind::CrcError, 0},
        {{0x11, 0x22, 0x8D, 0xF9}, ReplyKind::CrcError, 0},
    };
    for (const Case& c : cases) {
        const ReplyOutcome outcome = CheckReply(c.rx);
        EXPECT_EQ(outcome.kind, c.kind) << ::testing::PrintToString(c.rx);
        if (c.kind == ReplyKind::Value) {
            EXPECT_EQ(outcome.value, c.value) << ::testing::PrintToString(c.rx);
        }
    }
}

} // namespace
