#pragma once

#include "modbus/protocol.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Frames as a station that only listens hears them: how long a frame may be, judged from its first
// bytes; whether it is a request and whether one frame answers another; and what both say, in the
// operator's terms. Every function takes any bytes and reads none past their end.

// The longest RTU frame, and the shortest: station, function, CRC.
constexpr std::size_t kMostFrame = 256;
constexpr std::size_t kLeastFrame = 4;

// How the end of a frame is found.
enum class FrameEnd {
    Length, // its function fixes the length, or its bytes tell it
    Search, // any length (diagnostics, other encapsulated interfaces): the first good CRC ends it
    Silence // a function unknown here: only the silence after it ends it
};

// The lengths a frame that begins with these bytes may have, as a request or as a reply, as far
// as the bytes given tell them.
struct FrameLengths
{
    std::array<std::size_t, 3> lengths{};
    std::size_t count = 0;
    FrameEnd end = FrameEnd::Length;
    // Fewer bytes than this were given, so some lengths are not known yet.
    std::size_t header = 0;

    std::span<const std::size_t> Lengths() const { return std::span(lengths).first(count); }
    std::size_t Shortest() const;
};
FrameLengths PossibleLengths(std::span<const std::uint8_t> head);

bool HasGoodCrc(std::span<const std::uint8_t> frame);

// "read holding registers", "diagnostics", "function 65": a function by its name.
std::string FunctionName(std::uint8_t function);

// Whether a correct frame has the form of a request of its function (an exception never has).
bool IsRequestForm(std::span<const std::uint8_t> frame);
// A request of functions 1 to 6, 15 and 16 whose count the protocol allows, as the master built it.
std::optional<Request> RequestInFrame(std::span<const std::uint8_t> frame);
// Whether `reply` is the answer (or the exception) to `request`: for the functions above as
// ReadReply has it; for others one from the station asked, for its function, that is not the
// request repeated (except diagnostics, whose answer is often the request itself).
bool Answers(std::span<const std::uint8_t> request, std::span<const std::uint8_t> reply);

// What a request asks: "read 40001-40003", "write 00017 = on", "write 40001-40002 = 1 -2",
// "diagnostics 00 00 12 34"; the first reference, the count and the values it writes.
struct Asked
{
    std::string text;
    std::optional<RegisterRef> ref;
    std::uint32_t count = 0;
    std::vector<int> values;
};
Asked ReadAsked(std::span<const std::uint8_t> request);

// What a reply that answers the request says: "100 4660 -2" (registers, signed), "1 0 1" (bits),
// "confirmed", "exception 02 Illegal data address", or the bytes of other functions.
struct Answered
{
    std::string text;
    std::vector<int> values;
    std::optional<std::uint8_t> exception;
};
Answered ReadAnswered(std::span<const std::uint8_t> request, std::span<const std::uint8_t> reply);
