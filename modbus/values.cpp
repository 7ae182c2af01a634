#include "modbus/values.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

struct TypeName
{
    ValueType type;
    const char* name;
    std::size_t registers;
};
constexpr TypeName kTypes[] = {
    {ValueType::Int16, "int16", 1},     {ValueType::Uint16, "uint16", 1},
    {ValueType::Hex, "hex", 1},         {ValueType::Bin, "bin", 1},
    {ValueType::Int32, "int32", 2},     {ValueType::Uint32, "uint32", 2},
    {ValueType::Float32, "float32", 2}, {ValueType::Int64, "int64", 4},
    {ValueType::Uint64, "uint64", 4},   {ValueType::Float64, "float64", 4},
    {ValueType::String, "string", 1},
};
constexpr const char* kOrderNames[] = {"ABCD", "CDAB", "BADC", "DCBA"};

const TypeName& Entry(ValueType type)
{
    return *std::find_if(std::begin(kTypes), std::end(kTypes),
                         [&](const TypeName& t) { return t.type == type; });
}

std::uint64_t Unsigned(std::span<const std::uint8_t> bytes)
{
    std::uint64_t v = 0;
    for (const std::uint8_t b : bytes)
        v = v << 8 | b;
    return v;
}

// The integer of the bytes, the sign taken from their top bit.
std::int64_t Signed(std::span<const std::uint8_t> bytes)
{
    const int bits = static_cast<int>(bytes.size()) * 8;
    const std::uint64_t v = Unsigned(bytes);
    if (bits < 64 && (v >> (bits - 1) & 1))
        return static_cast<std::int64_t>(v) - (std::int64_t{1} << bits);
    return static_cast<std::int64_t>(v);
}

bool IsSigned(ValueType type)
{
    return type == ValueType::Int16 || type == ValueType::Int32 || type == ValueType::Int64;
}

bool IsFloat(ValueType type)
{
    return type == ValueType::Float32 || type == ValueType::Float64;
}

double FloatOf(std::span<const std::uint8_t> bytes)
{
    const std::uint64_t v = Unsigned(bytes);
    return bytes.size() == 4 ? static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(v)))
                             : std::bit_cast<double>(v);
}

std::string Printed(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::vector<std::uint8_t> BigEndian(std::uint64_t v, std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = size; i-- > 0; v >>= 8)
        bytes[i] = static_cast<std::uint8_t>(v & 0xFF);
    return bytes;
}

// A whole number in decimal, or in hexadecimal after 0x; nothing for anything else.
template <typename Int>
std::optional<Int> Whole(std::string_view text, int base = 10)
{
    if (base == 10 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return Whole<Int>(text.substr(2), 16);
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    Int value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

TypedValue Refused(ValueType type, std::string_view text, const std::string& range)
{
    return {{}, std::string(text) + " is not " + NameOf(type) + " (" + range + ")"};
}

} // namespace

std::optional<ValueType> ValueTypeNamed(std::string_view name)
{
    for (const TypeName& t : kTypes)
        if (name == t.name)
            return t.type;
    return std::nullopt;
}

const char* NameOf(ValueType type)
{
    return Entry(type).name;
}

std::optional<WordOrder> WordOrderNamed(std::string_view name)
{
    for (const WordOrder order : kWordOrders)
        if (name == NameOf(order))
            return order;
    return std::nullopt;
}

const char* NameOf(WordOrder order)
{
    return kOrderNames[static_cast<int>(order)];
}

std::size_t RegistersFor(ValueType type)
{
    return Entry(type).registers;
}

std::vector<std::uint8_t> Reordered(std::span<const std::uint8_t> bytes, WordOrder order)
{
    std::vector<std::uint8_t> out(bytes.begin(), bytes.end());
    const bool swapWords = order == WordOrder::CDAB || order == WordOrder::DCBA;
    const bool swapBytes = order == WordOrder::BADC || order == WordOrder::DCBA;
    const std::size_t words = out.size() / 2;
    if (swapWords)
        for (std::size_t i = 0; i < words / 2; ++i)
            std::swap_ranges(out.begin() + 2 * i, out.begin() + 2 * i + 2,
                             out.begin() + 2 * (words - 1 - i));
    if (swapBytes)
        for (std::size_t i = 0; i + 1 < out.size(); i += 2)
            std::swap(out[i], out[i + 1]);
    return out;
}

std::string ValueText(ValueType type, std::span<const std::uint8_t> bytes)
{
    switch (type) {
    case ValueType::Hex: {
        static const char digits[] = "0123456789ABCDEF";
        std::string text;
        for (const std::uint8_t b : bytes) {
            text += digits[b >> 4];
            text += digits[b & 15];
        }
        return text;
    }
    case ValueType::Bin: {
        std::string text;
        for (const std::uint8_t b : bytes)
            for (int bit = 7; bit >= 0; --bit)
                text += (b >> bit & 1) ? '1' : '0';
        return text;
    }
    case ValueType::Float32:
        return Printed("%.9g", FloatOf(bytes));
    case ValueType::Float64:
        return Printed("%.17g", FloatOf(bytes));
    case ValueType::String: {
        std::string text(bytes.begin(), bytes.end());
        text.erase(text.find_last_not_of('\0') + 1);
        // One line whatever a device sends: control and non-ASCII bytes as '?'.
        for (char& c : text)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
                c = '?';
        return text;
    }
    default:
        return IsSigned(type) ? std::to_string(Signed(bytes)) : std::to_string(Unsigned(bytes));
    }
}

bool Plausible(ValueType type, std::span<const std::uint8_t> bytes)
{
    if (IsFloat(type)) {
        const double x = std::fabs(FloatOf(bytes));
        return x == 0 || (std::isfinite(x) && x >= 1e-6 && x <= 1e7);
    }
    if (IsSigned(type))
        return std::llabs(Signed(bytes)) <= 1000000;
    return Unsigned(bytes) <= 1000000;
}

TypedValue ValueBytes(ValueType type, std::string_view text)
{
    const std::size_t size = 2 * RegistersFor(type);
    switch (type) {
    case ValueType::String: {
        std::vector<std::uint8_t> bytes(text.begin(), text.end());
        if (bytes.size() % 2)
            bytes.push_back(0);
        if (std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b > 0x7E; }))
            return {{}, "a string is ASCII"};
        return {bytes, {}};
    }
    case ValueType::Float32:
    case ValueType::Float64: {
        const std::string copy(text);
        char* end = nullptr;
        errno = 0;
        const double x = std::strtod(copy.c_str(), &end);
        const double most =
            type == ValueType::Float32 ? std::numeric_limits<float>::max() : std::numeric_limits<double>::max();
        if (copy.empty() || *end != '\0' || !std::isfinite(x) || std::fabs(x) > most || errno == ERANGE)
            return Refused(type, text,
                           type == ValueType::Float32 ? "a finite number up to 3.4E+38 in size"
                                                      : "a finite number");
        return {type == ValueType::Float32
                    ? BigEndian(std::bit_cast<std::uint32_t>(static_cast<float>(x)), 4)
                    : BigEndian(std::bit_cast<std::uint64_t>(x), 8),
                {}};
    }
    case ValueType::Hex: {
        const auto v = Whole<std::uint16_t>(text, 16);
        if (!v)
            return Refused(type, text, "0 to FFFF");
        return {BigEndian(*v, size), {}};
    }
    case ValueType::Bin: {
        const auto v = Whole<std::uint16_t>(text, 2);
        if (!v)
            return Refused(type, text, "up to 16 binary digits");
        return {BigEndian(*v, size), {}};
    }
    default:
        break;
    }
    const int bits = static_cast<int>(size) * 8;
    if (IsSigned(type)) {
        const auto v = Whole<std::int64_t>(text);
        const std::int64_t least = bits == 64 ? std::numeric_limits<std::int64_t>::min()
                                              : -(std::int64_t{1} << (bits - 1));
        const std::int64_t most = bits == 64 ? std::numeric_limits<std::int64_t>::max()
                                             : (std::int64_t{1} << (bits - 1)) - 1;
        if (!v || *v < least || *v > most)
            return Refused(type, text, std::to_string(least) + " to " + std::to_string(most));
        return {BigEndian(static_cast<std::uint64_t>(*v), size), {}};
    }
    const auto v = Whole<std::uint64_t>(text);
    const std::uint64_t most = bits == 64 ? std::numeric_limits<std::uint64_t>::max()
                                          : (std::uint64_t{1} << bits) - 1;
    if (!v || *v > most)
        return Refused(type, text, "0 to " + std::to_string(most));
    return {BigEndian(*v, size), {}};
}
