#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What registers hold beyond one signed word: the types a device map names, and the order in
// which a device lays a value's bytes over its registers.

enum class ValueType {
    Int16,
    Uint16,
    Hex,
    Bin,
    Int32,
    Uint32,
    Float32,
    Int64,
    Uint64,
    Float64,
    String, // ASCII, two characters a register, the first one in the high byte
};

// ABCD: the first register's high byte first, the protocol's own order. CDAB: the registers
// swapped, BADC: the bytes swapped in each register, DCBA: both. For four registers the same,
// word by word: CDAB takes them last first.
enum class WordOrder { ABCD, CDAB, BADC, DCBA };
constexpr WordOrder kWordOrders[] = {WordOrder::ABCD, WordOrder::CDAB, WordOrder::BADC,
                                     WordOrder::DCBA};

std::optional<ValueType> ValueTypeNamed(std::string_view name);
const char* NameOf(ValueType type);
std::optional<WordOrder> WordOrderNamed(std::string_view name);
const char* NameOf(WordOrder order);

// The registers one value takes: 1, 2 or 4 (a string: 1 for every two characters).
std::size_t RegistersFor(ValueType type);

// A value's bytes, most significant first, from its registers as they came (or the registers'
// bytes from a value's, the same way back: each order is its own inverse).
std::vector<std::uint8_t> Reordered(std::span<const std::uint8_t> bytes, WordOrder order);

// The value of the bytes (most significant first) as text: "-2", "FFFE", "1.5", "PUMP 3".
std::string ValueText(ValueType type, std::span<const std::uint8_t> bytes);
// Whether a value read in some order looks like one a device would hold: a float finite and of
// a modest size (zero, or 1e-6 to 1e7 in size), an integer within a million of zero.
bool Plausible(ValueType type, std::span<const std::uint8_t> bytes);

// A value typed by the operator as the type's bytes, most significant first; or why it does not
// fit ("70000 is beyond int16 (-32768 to 32767)").
struct TypedValue
{
    std::vector<std::uint8_t> bytes;
    std::string refused;
};
TypedValue ValueBytes(ValueType type, std::string_view text);
