// The text side of the panel: whatever an operator can type or paste into a station, reference
// or value field. Input: the text, any bytes (NUL and non-ASCII included).
//
// Holds when:
// - NumberFromText gives a finite number or nothing, agrees with the C library's reader on
//   decimal texts and with its hexadecimal reader on &H/&O texts of any length, ignores blanks
//   anywhere, leading zeros and a plus sign, and a minus sign negates;
// - TextFromNumber writes the sign column, at most 15 significant digits, the exponent form
//   exactly from 1E15 up, and its text reads back to the same text and to a number that agrees
//   in 15 significant digits (for the text's number and for the raw bits of the input as a
//   double), except for the few numbers at the very top of the range that round up beyond it;
// - RoundHalfEven is the FPU's round-half-to-even;
// - StationFromText is the half-even rounded number modulo 256 or nothing, and a station's
//   write-back text reads back as the same byte;
// - EncodeValue's bytes are the half-even rounded number modulo 65536, two's complement below 0;
// - DecodeReference accepts what has a number, an accepted reference (area 3 or 4) has an offset
//   0..9999, and a whole reference is split into its last five digits.
#include "modbus/frame_codec.h"
#include "modbus/numbers.h"
#include "oracle.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace {

bool SameNumber(std::optional<double> a, std::optional<double> b)
{
    return a.has_value() == b.has_value() && (!a || *a == *b);
}

void CheckNumber(std::string_view text, std::optional<double> x)
{
    if (x)
        REQUIRE(std::isfinite(*x));

    const std::optional<double> want = oracle::ExpectedNumber(text);
    if (want) {
        if (std::isinf(*want))
            REQUIRE(!x);
        else
            REQUIRE(x && *x == *want);
    }

    // Blanks anywhere are skipped: the same text with blanks in front, in the middle and at the
    // end reads the same.
    const std::size_t middle = text.size() / 2;
    const std::string spaced = std::string(" \t\n") + std::string(text.substr(0, middle)) + " \n" +
                               std::string(text.substr(middle)) + "\t ";
    REQUIRE(SameNumber(NumberFromText(spaced), x));

    const std::string s = oracle::WithoutBlanks(text);
    if (!s.empty() && (oracle::IsDigit(s[0]) || s[0] == '.')) {
        REQUIRE(SameNumber(NumberFromText("+" + s), x));
        const std::optional<double> negated = NumberFromText("-" + s);
        REQUIRE(negated.has_value() == x.has_value());
        if (x)
            REQUIRE(*negated == -*x && std::signbit(*negated) != std::signbit(*x));
        // Leading zeros (a pasted, zero-filled column) change nothing.
        REQUIRE(SameNumber(NumberFromText(std::string(200, '0') + s), x));
    }
}

int SignificantDigits(std::string_view digitsAndPoint)
{
    int count = 0;
    bool leading = true;
    for (char c : digitsAndPoint) {
        if (!oracle::IsDigit(c))
            continue;
        if (leading && c == '0')
            continue;
        leading = false;
        ++count;
    }
    return count;
}

void CheckWriteBack(double x)
{
    if (!std::isfinite(x))
        return;
    const std::string text = TextFromNumber(x);

    // The sign column: "-" before a negative number, one space before zero (-0 too) and above.
    REQUIRE(text.size() >= 2);
    REQUIRE(text[0] == (x < 0 ? '-' : ' '));
    const std::string_view body = std::string_view(text).substr(1);
    const std::size_t e = body.find('E');
    const std::string_view mantissa = body.substr(0, e);
    REQUIRE(!mantissa.empty());
    REQUIRE(mantissa.find_first_not_of("0123456789.") == std::string_view::npos);
    REQUIRE(mantissa == "0" || mantissa[0] != '0');
    if (mantissa.find('.') != std::string_view::npos)
        REQUIRE(mantissa.back() != '0' && mantissa.back() != '.');
    REQUIRE(SignificantDigits(mantissa) <= 15);
    if (e != std::string_view::npos) {
        const std::string_view power = body.substr(e + 1);
        REQUIRE(power.size() >= 3 && power[0] == '+');
        REQUIRE(power.find_first_not_of("0123456789", 1) == std::string_view::npos);
        REQUIRE(oracle::IsDigit(mantissa[0]) && mantissa[0] != '0');
        REQUIRE(mantissa.size() == 1 || mantissa[1] == '.');
    }

    // Reads back as the same text, to a number equal in 15 significant digits. Only the numbers
    // above the largest 15-digit one below the top of the range are written rounded up beyond it
    // ("1.79769313486232E+308"), and that text reads as nothing.
    const std::optional<double> y = NumberFromText(text);
    if (!y) {
        REQUIRE(std::fabs(x) > 1.79769313486231e308);
        REQUIRE(text.substr(1) == "1.79769313486232E+308");
        return;
    }
    REQUIRE(TextFromNumber(*y) == text);
    REQUIRE(std::fabs(*y - x) <= 5.2e-15 * std::fabs(x) + 5e-324);
    REQUIRE((e != std::string_view::npos) == (std::fabs(*y) >= 1e15));
    if (std::fabs(x) < 1e15 && x == std::floor(x))
        REQUIRE(*y == x && mantissa.find('.') == std::string_view::npos);
}

void CheckStation(std::optional<double> x, std::optional<std::uint8_t> station)
{
    std::optional<std::uint8_t> want;
    if (x) {
        const double r = oracle::HalfEven(*x);
        if (r >= -2147483648.0 && r <= 2147483647.0) {
            const auto remainder = static_cast<std::int64_t>(r) % 256; // the sign of the dividend
            if (remainder >= 0)
                want = static_cast<std::uint8_t>(remainder);
        }
    }
    REQUIRE(station.has_value() == want.has_value());
    if (!station)
        return;
    REQUIRE(*station == *want);
    // The field is rewritten with the station, and the next command reads the same byte from it.
    const std::string writeBack = TextFromNumber(*station);
    REQUIRE(writeBack == " " + std::to_string(*station));
    const std::optional<std::uint8_t> again = StationFromText(writeBack);
    REQUIRE(again && *again == *station);
}

void CheckValue(std::optional<double> x, std::optional<std::array<std::uint8_t, 2>> value)
{
    REQUIRE(value.has_value() == x.has_value());
    if (!value)
        return;
    const std::uint16_t want = oracle::Mod65536(oracle::HalfEven(*x));
    REQUIRE((*value)[0] == (want >> 8) && (*value)[1] == (want & 0xFF));
}

void CheckReference(std::optional<double> x, std::optional<RegisterRef> ref)
{
    REQUIRE(ref.has_value() == x.has_value());
    if (!ref)
        return;
    const int offset = ref->OffsetHi * 256 + ref->OffsetLo;
    REQUIRE(ref->AreaDigit >= 0 && ref->AreaDigit <= 9);
    if (ref->AreaDigit == 3 || ref->AreaDigit == 4)
        REQUIRE(offset >= 0 && offset <= 9999);
    // A whole reference counts from 1 and only its last five digits matter: 130002 is area 3,
    // offset 1.
    const double zeroBased = *x - 1;
    if (zeroBased >= 0 && zeroBased < 1e15 && zeroBased == std::floor(zeroBased)) {
        const auto z = static_cast<std::int64_t>(zeroBased);
        REQUIRE(ref->AreaDigit == static_cast<int>(z / 10000 % 10));
        REQUIRE(offset == static_cast<int>(z % 10000));
    }
}

void CheckText(std::string_view text)
{
    const std::optional<double> x = NumberFromText(text);
    CheckNumber(text, x);
    if (x) {
        CheckWriteBack(*x);
        REQUIRE(RoundHalfEven(*x) == oracle::HalfEven(*x));
    }
    CheckStation(x, StationFromText(text));
    CheckValue(x, EncodeValue(text));
    CheckReference(x, DecodeReference(text));
}

} // namespace

// Texts too large to search for, checked once at start-up: 64 KiB ones with every property, and
// mantissas of over a million digits, whose exponent once got clipped to a million and so read
// ".000...01E1500000" (1.5 million zeros) as 0 instead of .1.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::size_t large = 64 * 1024;
    const std::string texts[] = {
        std::string(large, '9'),
        std::string(large, ' ') + "30002",
        std::string(large, '0') + "41001",
        "&H" + std::string(large, 'F'),
        "." + std::string(large, '0') + "1E" + std::to_string(large),
        "-" + std::string(large, '\0'),
    };
    for (const std::string& text : texts)
        CheckText(text);
    REQUIRE(!NumberFromText(texts[0]) && !NumberFromText(texts[3]));
    REQUIRE(DecodeReference(texts[1])->AreaDigit == 3 && DecodeReference(texts[2])->AreaDigit == 4);
    REQUIRE(NumberFromText(texts[4]) == 0.1);

    // 1.5 million zeros: the point shifted by more than a million.
    const std::string zeros(1'500'000, '0');
    REQUIRE(NumberFromText("." + zeros + "1E1500000") == 0.1);
    REQUIRE(NumberFromText("." + zeros + "1E1499990") == 1e-11);
    REQUIRE(NumberFromText("1" + zeros + "E-1500000") == 1.0);
    REQUIRE(NumberFromText("1" + zeros + "E-1") == std::nullopt);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A copy of exactly the text, so that a read past its end is caught.
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckText(text);

    // The same bytes as a double: reaches numbers that texts seldom give (subnormals, the edges
    // of the range, halves beyond 2^52).
    if (size >= sizeof(double)) {
        double x = 0;
        std::memcpy(&x, data, sizeof x);
        CheckWriteBack(x);
        if (std::isfinite(x)) {
            REQUIRE(RoundHalfEven(x) == oracle::HalfEven(x));
            CheckText(TextFromNumber(x));
        }
    }

    // A long paste now and then: the text behind 16 KiB of blanks and zeros reads the same.
    if (size % 64 == 1) {
        const std::string s = oracle::WithoutBlanks(text);
        if (!s.empty() && (oracle::IsDigit(s[0]) || s[0] == '.')) {
            std::string padded(8 * 1024, ' ');
            padded += std::string(8 * 1024, '0') + text;
            REQUIRE(SameNumber(NumberFromText(padded), NumberFromText(text)));
        }
    }
    return 0;
}
