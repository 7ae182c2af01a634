// Which reply answers which request, the reference forms, and the value types and word orders.
#include "modbus/protocol.h"
#include "modbus/values.h"

#include <gtest/gtest.h>

namespace {

Bytes WithCrc(Bytes bytes)
{
    const Crc crc = Crc16(bytes);
    bytes.insert(bytes.end(), {crc.CrcLo, crc.CrcHi});
    return bytes;
}

TEST(References, SixDigitsReachTheWholeTable)
{
    const struct
    {
        const char* text;
        bool sixDigits;
        int area; // -1: refused
        int address;
    } cases[] = {
        {"000001", true, 0, 0},          {"065536", true, 0, 65535}, {"100017", true, 1, 16},
        {"300001", true, 3, 0},          {"410000", true, 4, 9999},  {"465536", true, 4, 65535},
        {" 400002 ", true, 4, 1},        {"465537", true, -1, 0},    {"400000", true, -1, 0},
        {"200001", true, -1, 0},         {"40001", false, -1, 0},    {"4000001", false, -1, 0},
        {"4e5", false, -1, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsSixDigitReference(c.text), c.sixDigits) << c.text;
        const std::optional<RegisterRef> ref = SixDigitReference(c.text);
        ASSERT_EQ(ref.has_value(), c.area >= 0) << c.text;
        if (ref) {
            EXPECT_EQ(ref->AreaDigit, c.area) << c.text;
            EXPECT_EQ(AddressOf(*ref), c.address) << c.text;
        }
    }
    // Five digits read as the window reads them, and a reference shows in the form that reaches it.
    EXPECT_EQ(AddressOf(*DecodeReference("40001")), 0);
    EXPECT_EQ(ReferenceText(*DecodeReference("00017")), "00017");
    EXPECT_EQ(ReferenceText(ReferenceAt(4, 10000)), "410001");
}

TEST(Values, TypesAndOrdersToBytesAndBack)
{
    const struct
    {
        ValueType type;
        const char* text;
        WordOrder order;
        const char* registers; // as they lie on the wire
    } cases[] = {
        {ValueType::Float32, "1", WordOrder::ABCD, "3F800000"},
        {ValueType::Float32, "1", WordOrder::CDAB, "00003F80"},
        {ValueType::Int32, "-2", WordOrder::ABCD, "FFFFFFFE"},
        {ValueType::Uint32, "123456789", WordOrder::ABCD, "075BCD15"},
        {ValueType::Uint32, "123456789", WordOrder::CDAB, "CD15075B"},
        {ValueType::Uint32, "123456789", WordOrder::BADC, "5B0715CD"},
        {ValueType::Uint32, "123456789", WordOrder::DCBA, "15CD5B07"},
        {ValueType::Float64, "1.5", WordOrder::CDAB, "0000000000003FF8"},
        {ValueType::Int64, "-2", WordOrder::DCBA, "FEFFFFFFFFFFFFFF"},
        {ValueType::Uint16, "65535", WordOrder::ABCD, "FFFF"},
        {ValueType::Hex, "BEEF", WordOrder::BADC, "EFBE"},
        {ValueType::Bin, "0000000000000101", WordOrder::ABCD, "0005"},
        {ValueType::String, "PUMP", WordOrder::ABCD, "50554D50"},
    };
    for (const auto& c : cases) {
        const TypedValue typed = ValueBytes(c.type, c.text);
        ASSERT_TRUE(typed.refused.empty()) << typed.refused;
        const std::vector<std::uint8_t> wire = Reordered(typed.bytes, c.order);
        EXPECT_EQ(ValueText(ValueType::Hex, wire), c.registers) << c.text << " " << NameOf(c.order);
        EXPECT_EQ(ValueText(c.type, Reordered(wire, c.order)), c.text) << NameOf(c.type);
    }
    for (const auto& [type, text] : {std::pair{ValueType::Int16, "70000"}, {ValueType::Int16, "1.5"},
                                     {ValueType::Uint16, "-1"}, {ValueType::Float32, "1e40"},
                                     {ValueType::Float64, "nan"}, {ValueType::Hex, "10000"},
                                     {ValueType::Uint64, "18446744073709551616"}})
        EXPECT_FALSE(ValueBytes(type, text).refused.empty()) << NameOf(type) << " " << text;
    // A string drops its trailing NULs; a float of a modest size is plausible, a huge one not.
    EXPECT_EQ(ValueText(ValueType::String, Bytes{'O', 'K', 0, 0}), "OK");
    EXPECT_TRUE(Plausible(ValueType::Float32, Bytes{0x3F, 0x80, 0, 0}));
    EXPECT_FALSE(Plausible(ValueType::Float32, Bytes{0x7F, 0x80, 0, 0}));
}

TEST(ReadReply, EachFunctionIsAnsweredByItsOwnReplyOnly)
{
    const auto request = [](std::uint8_t function, std::uint16_t data,
                            std::vector<std::uint16_t> values = {}) {
        return Request{1, function, ReferenceAt(4, 16), data, std::move(values)};
    };
    const struct
    {
        Request request;
        Bytes reply;
        ReplyShape shape;
    } cases[] = {
        {request(1, 10), WithCrc({1, 1, 2, 0x55, 0x01}), ReplyShape::Whole},
        {request(1, 10), WithCrc({1, 1, 1, 0x55}), ReplyShape::Foreign}, // another count
        {request(2, 8), WithCrc({1, 2, 1, 0x81}), ReplyShape::Whole},
        {request(3, 2), WithCrc({1, 3, 4, 0, 1, 0, 2}), ReplyShape::Whole},
        {request(3, 2), WithCrc({1, 3, 2, 0, 1}), ReplyShape::Foreign},
        {request(3, 2), WithCrc({1, 3, 6, 0, 1, 0, 2, 0, 3}), ReplyShape::Foreign},
        {request(4, 1), WithCrc({1, 4, 2, 0, 1}), ReplyShape::Whole},
        {request(4, 1), WithCrc({1, 0x84, 2}), ReplyShape::Whole},
        {request(4, 1), WithCrc({2, 4, 2, 0, 1}), ReplyShape::Foreign},
        {request(5, kCoilOn), WithCrc({1, 5, 0, 16, 0xFF, 0}), ReplyShape::Whole},
        {request(6, 7), WithCrc({1, 6, 0, 16, 0, 8}), ReplyShape::Foreign},
        {request(15, 0, {1, 0, 1}), WithCrc({1, 15, 0, 16, 0, 3}), ReplyShape::Whole},
        {request(15, 0, {1, 0, 1}), WithCrc({1, 15, 0, 16, 0, 2}), ReplyShape::Foreign},
        {request(16, 0, {7, 8}), WithCrc({1, 16, 0, 16, 0, 2}), ReplyShape::Whole},
        {request(16, 0, {7, 8}), WithCrc({1, 0x90, 3}), ReplyShape::Whole},
        {request(16, 0, {7, 8}), {1, 16, 0, 16}, ReplyShape::CutShort},
        {request(3, 2), {1, 3, 4, 0, 1, 0, 2, 0, 0}, ReplyShape::Garbled},
    };
    for (const auto& c : cases) {
        const ReplyReading reading = ReadReply(c.request, c.reply);
        EXPECT_EQ(reading.shape, c.shape) << "function " << int(c.request.function) << ", "
                                          << ValueText(ValueType::Hex, c.reply);
        EXPECT_EQ(IsWholeReply(c.request, c.reply), c.shape == ReplyShape::Whole);
    }
    // What a whole reply carries.
    EXPECT_EQ(RegistersOf(WithCrc({1, 3, 4, 0, 1, 0xFF, 0xFE})),
              (std::vector<std::uint16_t>{1, 0xFFFE}));
    EXPECT_EQ(BitsOf(WithCrc({1, 1, 2, 0x55, 0x01}), 10),
              (std::vector<bool>{1, 0, 1, 0, 1, 0, 1, 0, 1, 0}));
}

} // namespace
