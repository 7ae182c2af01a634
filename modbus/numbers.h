#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Reads the number at the start of a field's text. Blanks (space, tab, line feed) anywhere are
// skipped; then an optional sign, digits with at most one point, an optional exponent after E or
// D; &H and &O introduce hexadecimal and octal. No leading number gives 0. Only the point
// separates decimals, whatever the locale. A number beyond the double range gives nothing.
std::optional<double> NumberFromText(std::string_view text);

// Writes a number back as text: "-" before a negative number, one space before zero and above;
// whole numbers below 1E15 as digits, others with at most 15 significant digits, from 1E15 up
// in exponent form ("1E+15").
std::string TextFromNumber(double x);

// Rounds to a whole number, halves to the even neighbour (2.5 gives 2, 3.5 gives 4).
double RoundHalfEven(double x);

// The station byte of a station field's text: the number rounded half to even, modulo 256.
// Nothing when that is negative or the number lies beyond 32 bits: such a text names no station.
std::optional<std::uint8_t> StationFromText(std::string_view text);

// The two value bytes (high, low) of a write: the number rounded half to even, modulo 65536, a
// negative one in two's complement. Nothing when the text's number lies beyond the double range.
std::optional<std::array<std::uint8_t, 2>> EncodeValue(std::string_view text);
