#include "modbus/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int DigitValue(char c)
{
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

// &H and &O digits carry whole bits, so the value can be kept exactly: its leading 64 bits, the
// count of bits below them, and whether any of those is set. Folding that last fact into the
// lowest kept bit lets the one conversion to double round as the whole value would.
std::optional<double> RadixNumber(std::string_view digits, int bitsPerDigit)
{
    std::uint64_t top = 0;
    long below = 0;
    bool sticky = false;
    for (char c : digits) {
        const int d = DigitValue(c);
        if (d >= 1 << bitsPerDigit)
            break;
        for (int b = bitsPerDigit - 1; b >= 0; --b) {
            const bool bit = (d >> b) & 1;
            if (top >> 63) {
                sticky = sticky || bit;
                ++below;
            } else {
                top = top << 1 | bit;
            }
        }
    }
    // 2^1100 already lies beyond the double range.
    const double value =
        std::ldexp(static_cast<double>(top | sticky), static_cast<int>(std::min(below, 1100L)));
    if (std::isinf(value))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<double> NumberFromText(std::string_view text)
{
    std::string s;
    s.reserve(text.size());
    for (char c : text)
        if (!IsBlank(c))
            s += c;

    if (s.size() >= 2 && s[0] == '&') {
        const char kind = static_cast<char>(s[1] | 0x20);
        if (kind == 'h')
            return RadixNumber(std::string_view(s).substr(2), 4);
        if (kind == 'o')
            return RadixNumber(std::string_view(s).substr(2), 3);
        return 0.0;
    }

    std::size_t i = 0;
    const bool negative = i < s.size() && s[i] == '-';
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        ++i;
    std::string mantissa;
    bool point = false;
    for (; i < s.size(); ++i) {
        if (IsDigit(s[i]))
            mantissa += s[i];
        else if (s[i] == '.' && !point) {
            point = true;
            mantissa += '.';
        } else
            break;
    }
    if (std::none_of(mantissa.begin(), mantissa.end(), IsDigit))
        return negative ? -0.0 : 0.0;

    // The exponent is kept within a range that can only matter as overflow or underflow: a
    // million beyond the mantissa's own length, since a pasted mantissa of a million digits
    // shifts the point as far as the exponent does.
    const long limit = 1'000'000L + static_cast<long>(mantissa.size());
    long exponent = 0;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        std::size_t j = i + 1;
        const bool expNegative = j < s.size() && s[j] == '-';
        if (j < s.size() && (s[j] == '-' || s[j] == '+'))
            ++j;
        for (; j < s.size() && IsDigit(s[j]); ++j)
            exponent = std::min(exponent * 10 + (s[j] - '0'), limit);
        if (expNegative)
            exponent = -exponent;
    }

    const std::string number =
        (mantissa[0] == '.' ? "0" : "") + mantissa + "e" + std::to_string(exponent);
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        // Out of range on the small side reads as zero; on the large side it is no number.
        const std::size_t first = mantissa.find_first_not_of("0.");
        const std::size_t dot = std::min(mantissa.find('.'), mantissa.size());
        const long magnitude = static_cast<long>(dot) - static_cast<long>(first) + exponent;
        if (magnitude > 0)
            return std::nullopt;
        value = 0;
    } else if (error != std::errc()) {
        value = 0;
    }
    return negative ? -value : value;
}

std::string TextFromNumber(double x)
{
    std::string text = x < 0 ? "-" : " ";
    const double a = std::fabs(x);
    char buffer[64];
    if (a < 1e15 && a == std::floor(a)) {
        const auto result =
            std::to_chars(buffer, buffer + sizeof buffer, a, std::chars_format::fixed, 0);
        return text.append(buffer, result.ptr);
    }
    if (!std::isfinite(a))
        return text + (std::isnan(a) ? "NaN" : "Inf");

    // Fifteen significant digits, then the trailing zeros dropped.
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, a, std::chars_format::scientific, 14);
    const std::string scientific(buffer, result.ptr);
    const std::size_t e = scientific.find('e');
    std::string digits = scientific.substr(0, 1) + scientific.substr(2, e - 2);
    const int exponent = std::stoi(scientific.substr(e + 1));
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    if (exponent >= 15) {
        text += digits.substr(0, 1);
        if (digits.size() > 1)
            text += "." + digits.substr(1);
        const std::string power = std::to_string(exponent);
        return text + "E+" + (power.size() < 2 ? "0" : "") + power;
    }
    if (exponent >= 0) {
        if (digits.size() <= static_cast<std::size_t>(exponent) + 1)
            return text + digits + std::string(exponent + 1 - digits.size(), '0');
        return text + digits.substr(0, exponent + 1) + "." + digits.substr(exponent + 1);
    }
    return text + "." + std::string(-exponent - 1, '0') + digits;
}

double RoundHalfEven(double x)
{
    const double r = std::round(x); // halves away from zero
    if (std::fabs(x - std::trunc(x)) == 0.5)
        return 2.0 * std::round(x / 2.0);
    return r;
}

std::optional<std::uint8_t> StationFromText(std::string_view text)
{
    const std::optional<double> x = NumberFromText(text);
    if (!x)
        return std::nullopt;
    const double r = RoundHalfEven(*x);
    if (r < std::numeric_limits<std::int32_t>::min() ||
        r > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    const std::int32_t m = static_cast<std::int32_t>(r) % 256; // takes the sign of r
    if (m < 0)
        return std::nullopt;
    return static_cast<std::uint8_t>(m);
}

std::optional<std::array<std::uint8_t, 2>> EncodeValue(std::string_view text)
{
    const std::optional<double> x = NumberFromText(text);
    if (!x)
        return std::nullopt;
    // fmod is exact, so values far beyond 32 bits reduce without overflow.
    double m = std::fmod(RoundHalfEven(*x), 65536.0);
    if (m < 0)
        m += 65536.0;
    const auto v = static_cast<std::uint16_t>(m);
    return std::array<std::uint8_t, 2>{static_cast<std::uint8_t>(v >> 8),
                                       static_cast<std::uint8_t>(v & 0xFF)};
}
