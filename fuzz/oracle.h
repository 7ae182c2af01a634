#pragma once

// Reference answers for the fuzz targets, written apart from modbus/ so that a fault there is not
// repeated here: a table CRC instead of the bit loop, the C library's reader for decimal and
// hexadecimal texts, the FPU's own half-to-even rounding, and the remainder taken from the bits
// of the double.

#include <array>
#include <cerrno>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

// Stops the run with the failed property; libFuzzer keeps the input that caused it.
#define REQUIRE(cond)                                                                              \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);      \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace oracle {

// CRC-16/MODBUS by table; the register after `bytes`, low byte in bits 0..7.
inline std::uint16_t Crc(std::string_view bytes)
{
    static const std::array<std::uint16_t, 256> table = [] {
        std::array<std::uint16_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            std::uint16_t r = static_cast<std::uint16_t>(i);
            for (int k = 0; k < 8; ++k)
                r = (r & 1) ? static_cast<std::uint16_t>((r >> 1) ^ 0xA001) : r >> 1;
            t[i] = r;
        }
        return t;
    }();
    std::uint16_t reg = 0xFFFF;
    for (unsigned char c : bytes)
        reg = static_cast<std::uint16_t>((reg >> 8) ^ table[(reg ^ c) & 0xFF]);
    return reg;
}

inline std::string_view Bytes(const std::uint8_t* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

// The FPU rounds half to even in its default mode.
inline double HalfEven(double x)
{
    REQUIRE(std::fegetround() == FE_TONEAREST);
    return std::nearbyint(x);
}

// A whole double modulo 65536, a negative one in two's complement, from its mantissa and
// exponent rather than by division.
inline std::uint16_t Mod65536(double whole)
{
    if (whole == 0)
        return 0;
    int exponent = 0;
    const double fraction = std::frexp(std::fabs(whole), &exponent); // |whole| = f * 2^exponent
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53)); // 53 bits
    const int shift = exponent - 53; // |whole| = mantissa * 2^shift
    std::uint64_t low = 0;
    if (shift >= 16)
        low = 0;
    else if (shift >= 0)
        low = (mantissa << shift) & 0xFFFF;
    else
        low = (mantissa >> -shift) & 0xFFFF; // whole, so the bits shifted out are zeros
    if (whole < 0)
        low = (0x10000 - low) & 0xFFFF;
    return static_cast<std::uint16_t>(low);
}

inline bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

inline bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

inline std::string WithoutBlanks(std::string_view text)
{
    std::string s;
    for (char c : text)
        if (!IsBlank(c))
            s += c;
    return s;
}

// What a field's text should read as, for the texts this can judge: decimal ones through strtod
// (E or D exponent), and &H/&O ones through its hexadecimal reader. Nothing when it cannot
// judge; an infinite value when the number lies beyond the double range.
inline std::optional<double> ExpectedNumber(std::string_view text)
{
    const std::string s = WithoutBlanks(text);
    if (!s.empty() && s[0] == '&') {
        if (s.size() < 2)
            return 0.0;
        const char kind = s[1];
        const int radix = (kind == 'h' || kind == 'H') ? 16 : (kind == 'o' || kind == 'O') ? 8 : 0;
        if (radix == 0)
            return 0.0;
        // The digits as bits, written again in hexadecimal for the C library's reader, which
        // rounds a hexadecimal text of any length exactly once.
        std::string bits;
        for (std::size_t i = 2; i < s.size(); ++i) {
            const char c = s[i];
            const bool ok = radix == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                                        : (c >= '0' && c <= '7');
            if (!ok)
                break;
            const int d = std::stoi(std::string(1, c), nullptr, 16);
            for (int b = radix == 16 ? 3 : 2; b >= 0; --b)
                bits += (d >> b) & 1 ? '1' : '0';
        }
        if (bits.empty())
            return 0.0;
        bits.insert(0, (4 - bits.size() % 4) % 4, '0');
        std::string hex = "0x";
        for (std::size_t i = 0; i < bits.size(); i += 4)
            hex += "0123456789abcdef"[std::stoi(bits.substr(i, 4), nullptr, 2)];
        return std::strtod(hex.c_str(), nullptr); // HUGE_VAL beyond the range
    }

    // The longest prefix of the form [sign] digits [. digits] [E|D [sign] digits].
    std::size_t i = 0;
    std::string number;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        number += s[i++];
    bool anyDigit = false, point = false;
    for (; i < s.size(); ++i) {
        if (IsDigit(s[i])) {
            anyDigit = true;
            number += s[i];
        } else if (s[i] == '.' && !point) {
            point = true;
            number += '.';
        } else {
            break;
        }
    }
    if (!anyDigit)
        return (!number.empty() && number[0] == '-') ? -0.0 : 0.0;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        std::string exponent = "e";
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '-' || s[j] == '+'))
            exponent += s[j++];
        std::size_t digits = 0;
        for (; j < s.size() && IsDigit(s[j]); ++j, ++digits)
            exponent += s[j];
        if (digits > 0)
            number += exponent;
    }
    errno = 0;
    return std::strtod(number.c_str(), nullptr); // HUGE_VAL beyond the range
}

} // namespace oracle
