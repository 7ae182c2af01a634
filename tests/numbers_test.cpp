// Reading numbers from field texts and writing them back, as the station, reference and value
// fields rely on it.
#include "modbus/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

namespace {

TEST(NumberFromText, ReadsTheLeadingNumber)
{
    struct Case
    {
        std::string text;
        double number;
    } cases[] = {
        {"", 0},
        {"abc", 0},
        {"12abc", 12},
        {" 1", 1},
        {"1 2 3", 123},
        {"\t-\n5", -5},
        {"+5", 5},
        {"--5", 0},
        {"-", 0},
        {".", 0},
        {"1.5", 1.5},
        {"1.2.3", 1.2},
        {".5", 0.5},
        {"-.5", -0.5},
        {"1,5", 1},
        {"1E3", 1000},
        {"1e3", 1000},
        {"1D3", 1000},
        {"1d+3", 1000},
        {"2.5E-1", 0.25},
        {"1E", 1},
        {"1E+", 1},
        {"&H1F", 31},
        {"&h1f", 31},
        {"&HFFFF", 65535},
        {"&O17", 15},
        {"&o8", 0},
        {"&O18", 1}, // 8 is no octal digit
        {"&H", 0},
        {"&HZZ", 0},
        {"&", 0},
        {"&X12", 0},
        {"1E-400", 0},
        {"0E99999", 0},
        {"1E-18446744073709551617", 0}, // 2^64 + 1: a count that overflows would read 0.1
        {"4E+20", 4e20},
        {"30002\r", 30002},
        {std::string("7\0"
                     "8",
                     3),
         7},
        {"\xC3\xA9"
         "5",
         0},
    };
    for (const Case& c : cases) {
        const std::optional<double> x = NumberFromText(c.text);
        ASSERT_TRUE(x.has_value()) << '"' << c.text << '"';
        EXPECT_DOUBLE_EQ(*x, c.number) << '"' << c.text << '"';
    }
}

TEST(NumberFromText, GivesNothingBeyondTheDoubleRange)
{
    for (const std::string& text :
         {std::string("1E400"), std::string("-1E400"), std::string("1.8E308"),
          "&H" + std::string(300, 'F'), "1" + std::string(400, '0'),
          std::string("1E18446744073709551617")})
        EXPECT_FALSE(NumberFromText(text).has_value()) << text;
    EXPECT_TRUE(NumberFromText("1.7E308").has_value());
}

TEST(NumberFromText, RoundsLongHexAndOctalOnceAsDecimalDoes)
{
    // Above 53 bits a value summed digit by digit in doubles rounds at every step.
    const struct
    {
        const char* radix;
        const char* decimal;
    } cases[] = {
        {"&H200000000000011", "144115188075855889"}, // 2^57 + 17
        {"&H20000000000001", "9007199254740993"},    // 2^53 + 1: a tie, to even
        {"&H1000000000000000000000001", "79228162514264337593543950337"}, // 2^96 + 1
        {"&O10000000000000000021", "144115188075855889"},
        {"&HFFFFFFFFFFFFFFFFF", "295147905179352825855"}, // beyond 64 bits, rounds up
        {"&H10000000000000800", "18446744073709553664"},  // 2^64 + 2^11: a tie, to even
        {"&H10000000000000801", "18446744073709555712"},  // 2^64 + 2^11 + 1: the 1 breaks the tie
        {"&O10000000000000000020002", "73786976294838222848"}, // 2^66 + 2^13 + 2: likewise
    };
    for (const auto& c : cases)
        EXPECT_EQ(NumberFromText(c.radix), NumberFromText(c.decimal)) << c.radix;
}

TEST(TextFromNumber, WritesTheSignOrASpaceThenTheShortestDigits)
{
    struct Case
    {
        double number;
        const char* text;
    } cases[] = {
        {0, " 0"},
        {-0.0, " 0"},
        {1, " 1"},
        {-1, "-1"},
        {30001, " 30001"},
        {0.5, " .5"},
        {-0.25, "-.25"},
        {1.5, " 1.5"},
        {0.1 + 0.2, " .3"},
        {1.0 / 3, " .333333333333333"},
        {123456.789, " 123456.789"},
        {0.00012, " .00012"},
        {999999999999999, " 999999999999999"},
        {1e15, " 1E+15"},
        {-1.5e20, "-1.5E+20"},
        {1e100, " 1E+100"},
        {9007199254740993.0, " 9.00719925474099E+15"},
        {999999999999999.9, " 1E+15"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TextFromNumber(c.number), c.text) << c.number;
}

TEST(RoundHalfEven, SendsHalvesToTheEvenNeighbour)
{
    const double cases[][2] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {0.5, 0},     {-0.5, 0},   {1.5, 2},
                               {2.4, 2}, {2.6, 3}, {-2.6, -3}, {255.5, 256}, {254.5, 254}};
    for (const auto& c : cases)
        EXPECT_EQ(RoundHalfEven(c[0]), c[1]) << c[0];
}

TEST(StationFromText, TakesTheRoundedNumberModulo256)
{
    struct Case
    {
        const char* text;
        int station; // -1: names no station
    } cases[] = {
        {"1", 1},
        {" 1", 1},
        {"17", 17},
        {"257", 1},
        {"256", 0},
        {"255.5", 0},
        {"254.5", 254},
        {"2.5", 2},
        {"3.5", 4},
        {"", 0},
        {"abc", 0},
        {"12abc", 12},
        {"&H1F", 31},
        {"-256", 0},
        {"-0.5", 0},
        {"-1", -1},
        {"-0.6", -1},
        {"-300", -1},
        {"3E10", -1},
        {"1E400", -1},
        {"2147483647", 255},
        {"2147483648", -1},
    };
    for (const Case& c : cases) {
        const std::optional<std::uint8_t> station = StationFromText(c.text);
        if (c.station < 0) {
            EXPECT_FALSE(station.has_value()) << c.text;
        } else {
            EXPECT_EQ(station, std::optional<std::uint8_t>(c.station)) << c.text;
        }
    }
}

TEST(EncodeValue, GivesTheRoundedNumberModulo65536HighByteFirst)
{
    struct Case
    {
        const char* text;
        int hi, lo; // hi -1: refused
    } cases[] = {
        {"0", 0x00, 0x00},     {"1234", 0x04, 0xD2},   {"-1", 0xFF, 0xFF},
        {"65535", 0xFF, 0xFF}, {"-65537", 0xFF, 0xFF}, {"65536", 0x00, 0x00},
        {"70000", 0x11, 0x70}, {"32767", 0x7F, 0xFF},  {"-32768", 0x80, 0x00},
        {"1.5", 0x00, 0x02},   {"2.5", 0x00, 0x02},    {"3.5", 0x00, 0x04},
        {"0.5", 0x00, 0x00},   {"-0.5", 0x00, 0x00},   {"-2.5", 0xFF, 0xFE},
        {"", 0x00, 0x00},      {"abc", 0x00, 0x00},    {"&HFFFF", 0xFF, 0xFF},
        {"3E10", 0xAC, 0x00},  {"-3E10", 0x54, 0x00},  {"1E20", 0x00, 0x00},
        {"1E400", -1, -1},
    };
    for (const Case& c : cases) {
        const auto bytes = EncodeValue(c.text);
        if (c.hi < 0) {
            EXPECT_FALSE(bytes.has_value()) << c.text;
            continue;
        }
        ASSERT_TRUE(bytes.has_value()) << c.text;
        EXPECT_EQ((*bytes)[0], c.hi) << c.text;
        EXPECT_EQ((*bytes)[1], c.lo) << c.text;
    }
}

} // namespace
