#pragma once

#include "modbus/frame_codec.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What a master sends and what it may get back: the function codes by name, the length of the
// reply each request expects, and one reading of what came back. The only place that knows which
// reply fits which request.

namespace Function {
constexpr std::uint8_t ReadCoils = 0x01;
constexpr std::uint8_t ReadDiscreteInputs = 0x02;
constexpr std::uint8_t ReadHoldingRegisters = 0x03;
constexpr std::uint8_t ReadInputRegisters = 0x04;
constexpr std::uint8_t WriteSingleCoil = 0x05;
constexpr std::uint8_t WriteSingleRegister = 0x06;
constexpr std::uint8_t WriteMultipleCoils = 0x0F;
constexpr std::uint8_t WriteMultipleRegisters = 0x10;
} // namespace Function

// A reply to function f with this bit set is an exception: station, f | 0x80, code, CRC.
constexpr std::uint8_t kExceptionBit = 0x80;
constexpr std::size_t kExceptionSize = 5;
constexpr std::size_t kCrcSize = 2;
// A read's reply: station, function, byte count, the data, CRC.
constexpr std::size_t kReadReplyOverhead = 5;

// The tables of the operator's references, by their leading digit.
constexpr int kCoilArea = 0;
constexpr int kDiscreteInputArea = 1;
constexpr int kInputRegisterArea = 3;
constexpr int kHoldingRegisterArea = 4;

// How much one request may carry.
constexpr std::uint16_t kMostRegistersRead = 125;
constexpr std::uint16_t kMostBitsRead = 2000;
constexpr std::uint16_t kMostRegistersWritten = 123;
constexpr std::uint16_t kMostBitsWritten = 1968;
// A single coil's value on the wire.
constexpr std::uint16_t kCoilOn = 0xFF00;
constexpr std::uint16_t kCoilOff = 0x0000;

// The function that reads the reference's table, or writes one or several values into it;
// nothing where the table has no such function.
std::optional<std::uint8_t> ReadFunctionFor(const RegisterRef& ref);
std::optional<std::uint8_t> WriteFunctionFor(const RegisterRef& ref, bool several);
// Whether the function reads or writes bits (coils, discrete inputs) rather than registers.
bool IsBitFunction(std::uint8_t function);
// The most registers or bits one request of the function may carry.
std::uint16_t MostCount(std::uint8_t function);

// A six-digit reference, which reaches every address of its table: 000001-065536 coils,
// 100001-165536 discrete inputs, 300001-365536 input registers, 400001-465536 holding registers.
// Whether the text has that form (six decimal digits), and the reference, or nothing where the
// number lies outside those ranges.
bool IsSixDigitReference(std::string_view text);
std::optional<RegisterRef> SixDigitReference(std::string_view text);
// The reference of a zero-based protocol address in the area's table.
RegisterRef ReferenceAt(int area, std::uint16_t address);
std::uint16_t AddressOf(const RegisterRef& ref);

// The silence that ends a frame on the line: 3.5 characters at the line's speed, fixed at 1.75 ms
// above 19200 bit/s, in seconds. A master that sends sooner after a reply may have its request
// taken for the reply's tail.
double FrameSilence(int baud, int bitsPerCharacter);

// A request: a read of `data` registers or bits from the reference on; a single write of the
// value `data` (a coil: kCoilOn or kCoilOff); a multiple write of `values` (coils: 0 or 1).
struct Request
{
    std::uint8_t station = 1;
    std::uint8_t function = Function::ReadHoldingRegisters;
    RegisterRef ref;
    std::uint16_t data = 1;
    std::vector<std::uint16_t> values;
};

// The request's frame, CRC included: 8 bytes, or 9 + the data of a multiple write.
Bytes Encode(const Request& request);

// How many bytes the normal reply to the request has, CRC included: a read's byte count and its
// data, a single write's request sent back, a multiple write's address and count.
std::size_t ReplySize(const Request& request);

// What a run of received bytes is to a request.
enum class ReplyShape {
    Nothing,    // no byte came
    Whole,      // exactly one whole reply to the request (normal or exception), and nothing else
    AmongStray, // a whole reply to the request, with stray bytes before or after it
    CutShort,   // the beginning of a reply to the request, fewer bytes than it needs
    Foreign,    // a correct frame that answers something else: station, function or length
    Garbled,    // none of these: a wrong CRC, noise
};

struct ReplyReading
{
    ReplyShape shape = ReplyShape::Nothing;
    // Where the reply lies among the bytes, and how many bytes a whole one has; for Foreign and
    // Garbled, all of them.
    std::size_t at = 0;
    std::size_t size = 0;
    std::size_t needed = 0;
    bool exception = false; // the reply is (or begins as) an exception
    bool otherStation = false;
    bool otherFunction = false;
};

// Reads the bytes as a reply to the request. A reply with a good CRC counts for the request only
// from its station, for its function (or as its exception), with the byte count and length that
// the request asked for; a single write's reply is the request itself.
ReplyReading ReadReply(const Request& request, std::span<const std::uint8_t> bytes);

// Whether the bytes are one whole reply to the request and nothing else: the moment a master can
// stop waiting. Cheap enough to ask at every arrival, however many bytes have come.
bool IsWholeReply(const Request& request, std::span<const std::uint8_t> bytes);

// Half-duplex adapters hear their own request. The received bytes without such an echo of the
// request at their start: where the reply to the request is the request itself (a single write),
// only when more follows the first copy.
std::span<const std::uint8_t> WithoutEcho(const Request& request, std::span<const std::uint8_t> rx);

// The operator's number for a reference: 30002 for input register offset 1, 410001 for holding
// register offset 10000; and as text, with a coil's leading zeros: "00017".
int ReferenceNumber(const RegisterRef& ref);
std::string ReferenceText(const RegisterRef& ref);
// The station a frame names, and its function without the exception bit.
std::uint8_t StationOf(std::span<const std::uint8_t> frame);
std::uint8_t FunctionOf(std::span<const std::uint8_t> frame);
// What a whole read reply carries: its registers, or its first `count` bits.
std::vector<std::uint16_t> RegistersOf(std::span<const std::uint8_t> reply);
std::vector<bool> BitsOf(std::span<const std::uint8_t> reply, std::size_t count);
// What a whole reply carries: the i-th register of a register read's reply; the code of an
// exception reply.
std::uint16_t RegisterOf(std::span<const std::uint8_t> reply, std::size_t i = 0);
std::uint8_t ExceptionCodeOf(std::span<const std::uint8_t> reply);
