#include "modbus/frames.h"

#include <algorithm>
#include <cstdio>

namespace {

// The functions a master may send beyond the reads and writes of protocol.h.
namespace More {
constexpr std::uint8_t ReadExceptionStatus = 0x07;
constexpr std::uint8_t Diagnostics = 0x08;
constexpr std::uint8_t CommEventCounter = 0x0B;
constexpr std::uint8_t CommEventLog = 0x0C;
constexpr std::uint8_t ReportServerId = 0x11;
constexpr std::uint8_t ReadFileRecord = 0x14;
constexpr std::uint8_t WriteFileRecord = 0x15;
constexpr std::uint8_t MaskWriteRegister = 0x16;
constexpr std::uint8_t ReadWriteRegisters = 0x17;
constexpr std::uint8_t ReadFifoQueue = 0x18;
constexpr std::uint8_t Encapsulated = 0x2B;
constexpr std::uint8_t DeviceIdentification = 0x0E; // the encapsulated interface's type
} // namespace More

std::string HexText(std::span<const std::uint8_t> bytes)
{
    std::string text;
    char byte[4];
    for (const std::uint8_t b : bytes) {
        std::snprintf(byte, sizeof byte, "%s%02X", text.empty() ? "" : " ", b);
        text += byte;
    }
    return text;
}

// What lies between the function and the CRC.
std::span<const std::uint8_t> DataOf(std::span<const std::uint8_t> frame)
{
    return frame.size() < kLeastFrame ? std::span<const std::uint8_t>{}
                                      : frame.subspan(2, frame.size() - kLeastFrame);
}

std::uint16_t Word(std::span<const std::uint8_t> frame, std::size_t at)
{
    return static_cast<std::uint16_t>(frame[at] << 8 | frame[at + 1]);
}

int Area(std::uint8_t function)
{
    switch (function) {
    case Function::ReadCoils:
    case Function::WriteSingleCoil:
    case Function::WriteMultipleCoils:
        return kCoilArea;
    case Function::ReadDiscreteInputs:
        return kDiscreteInputArea;
    case Function::ReadInputRegisters:
        return kInputRegisterArea;
    default:
        return kHoldingRegisterArea;
    }
}

bool IsRead(std::uint8_t function)
{
    return function >= Function::ReadCoils && function <= Function::ReadInputRegisters;
}

std::string Joined(const std::vector<int>& values)
{
    std::string text;
    for (const int v : values)
        text += (text.empty() ? "" : " ") + std::to_string(v);
    return text;
}

std::string SixDigits(int area, std::uint32_t address)
{
    char text[16];
    std::snprintf(text, sizeof text, "%06u", static_cast<unsigned>(area * 100000 + address + 1));
    return text;
}

// "40001", "40001-40003"; six digits for both ends once the last needs them.
std::string Range(const RegisterRef& ref, std::uint32_t count)
{
    const std::uint32_t first = AddressOf(ref);
    const std::uint32_t last = first + count - 1;
    if (count <= 1)
        return ReferenceText(ref);
    if (last > 0xFFFF)
        return ReferenceText(ref) + ", count " + std::to_string(count);
    if (last >= 10000 - 1 && first < 10000 - 1)
        return SixDigits(ref.AreaDigit, first) + "-" + SixDigits(ref.AreaDigit, last);
    return ReferenceText(ref) + "-" +
           ReferenceText(ReferenceAt(ref.AreaDigit, static_cast<std::uint16_t>(last)));
}

// The length of a device identification reply, from its objects: each an id, a length, a value.
std::optional<std::size_t> IdentificationLength(std::span<const std::uint8_t> head,
                                                std::size_t& header)
{
    constexpr std::size_t kObjects = 7;
    std::size_t at = kObjects + 1;
    if (head.size() <= kObjects) {
        header = kObjects + 1;
        return std::nullopt;
    }
    for (std::size_t k = 0; k < head[kObjects]; ++k) {
        if (at + 1 >= head.size()) {
            header = at + 2;
            return std::nullopt;
        }
        at += 2 + head[at + 1];
        if (at + kCrcSize > kMostFrame)
            return std::nullopt;
    }
    return at + kCrcSize;
}

} // namespace

std::size_t FrameLengths::Shortest() const
{
    const auto all = Lengths();
    return all.empty() ? kLeastFrame : *std::min_element(all.begin(), all.end());
}

FrameLengths PossibleLengths(std::span<const std::uint8_t> head)
{
    FrameLengths f;
    const auto add = [&f](std::size_t n) {
        const auto known = f.Lengths();
        if (n >= kLeastFrame && n <= kMostFrame &&
            std::find(known.begin(), known.end(), n) == known.end())
            f.lengths[f.count++] = n;
    };
    // A byte of the header, or nothing when it has not come yet.
    const auto at = [&](std::size_t i) -> std::optional<std::size_t> {
        if (i < head.size())
            return head[i];
        f.header = std::max(f.header, i + 1);
        return std::nullopt;
    };
    const std::optional<std::size_t> function = at(1);
    if (!function)
        return f;
    if (*function & kExceptionBit) {
        add(kExceptionSize);
        return f;
    }
    switch (*function) {
    case Function::ReadCoils:
    case Function::ReadDiscreteInputs:
    case Function::ReadHoldingRegisters:
    case Function::ReadInputRegisters:
        add(8);
        if (const auto bytes = at(2))
            add(kReadReplyOverhead + *bytes);
        break;
    case Function::WriteSingleCoil:
    case Function::WriteSingleRegister:
        add(8);
        break;
    case Function::WriteMultipleCoils:
    case Function::WriteMultipleRegisters:
        add(8);
        if (const auto bytes = at(6))
            add(9 + *bytes);
        break;
    case More::ReadExceptionStatus:
        add(4);
        add(5);
        break;
    case More::CommEventCounter:
        add(4);
        add(8);
        break;
    case More::CommEventLog:
    case More::ReportServerId:
        add(4);
        if (const auto bytes = at(2))
            add(5 + *bytes);
        break;
    case More::ReadFileRecord:
    case More::WriteFileRecord:
        if (const auto bytes = at(2))
            add(5 + *bytes);
        break;
    case More::MaskWriteRegister:
        add(10);
        break;
    case More::ReadWriteRegisters:
        if (const auto bytes = at(2))
            add(5 + *bytes);
        if (const auto bytes = at(10))
            add(13 + *bytes);
        break;
    case More::ReadFifoQueue:
        add(6);
        if (const auto hi = at(2), lo = at(3); hi && lo)
            add(6 + (*hi << 8 | *lo));
        break;
    case More::Diagnostics:
        add(8);
        f.end = FrameEnd::Search;
        break;
    case More::Encapsulated:
        if (const auto type = at(2); type && *type == More::DeviceIdentification) {
            add(7);
            if (const auto n = IdentificationLength(head, f.header))
                add(*n);
        } else if (type) {
            f.end = FrameEnd::Search;
        }
        break;
    default:
        f.end = FrameEnd::Silence;
        break;
    }
    return f;
}

bool HasGoodCrc(std::span<const std::uint8_t> frame)
{
    if (frame.size() < kLeastFrame)
        return false;
    const Crc crc = Crc16(frame.first(frame.size() - kCrcSize));
    return crc.CrcLo == frame[frame.size() - 2] && crc.CrcHi == frame[frame.size() - 1];
}

std::string FunctionName(std::uint8_t function)
{
    switch (function) {
    case Function::ReadCoils:
        return "read coils";
    case Function::ReadDiscreteInputs:
        return "read discrete inputs";
    case Function::ReadHoldingRegisters:
        return "read holding registers";
    case Function::ReadInputRegisters:
        return "read input registers";
    case Function::WriteSingleCoil:
        return "write single coil";
    case Function::WriteSingleRegister:
        return "write single register";
    case Function::WriteMultipleCoils:
        return "write multiple coils";
    case Function::WriteMultipleRegisters:
        return "write multiple registers";
    case More::ReadExceptionStatus:
        return "read exception status";
    case More::Diagnostics:
        return "diagnostics";
    case More::CommEventCounter:
        return "get comm event counter";
    case More::CommEventLog:
        return "get comm event log";
    case More::ReportServerId:
        return "report server id";
    case More::ReadFileRecord:
        return "read file record";
    case More::WriteFileRecord:
        return "write file record";
    case More::MaskWriteRegister:
        return "mask write register";
    case More::ReadWriteRegisters:
        return "read/write multiple registers";
    case More::ReadFifoQueue:
        return "read FIFO queue";
    case More::Encapsulated:
        return "encapsulated interface";
    default:
        return "function " + std::to_string(function);
    }
}

bool IsRequestForm(std::span<const std::uint8_t> frame)
{
    const std::size_t n = frame.size();
    if (n < kLeastFrame || (frame[1] & kExceptionBit))
        return false;
    switch (frame[1]) {
    case Function::ReadCoils:
    case Function::ReadDiscreteInputs:
    case Function::ReadHoldingRegisters:
    case Function::ReadInputRegisters:
    case Function::WriteSingleCoil:
    case Function::WriteSingleRegister:
        return n == 8;
    case Function::WriteMultipleCoils:
    case Function::WriteMultipleRegisters:
        return n >= 9 && n == 9u + frame[6];
    case More::ReadExceptionStatus:
    case More::CommEventCounter:
    case More::CommEventLog:
    case More::ReportServerId:
        return n == 4;
    case More::Diagnostics:
        return n >= 6;
    case More::ReadFileRecord:
    case More::WriteFileRecord:
        return n == 5u + frame[2];
    case More::MaskWriteRegister:
        return n == 10;
    case More::ReadWriteRegisters:
        return n >= 13 && n == 13u + frame[10];
    case More::ReadFifoQueue:
        return n == 6;
    case More::Encapsulated:
        return n >= 5 && (frame[2] != More::DeviceIdentification || n == 7);
    default:
        return true;
    }
}

std::optional<Request> RequestInFrame(std::span<const std::uint8_t> frame)
{
    if (!IsRequestForm(frame))
        return std::nullopt;
    const std::uint8_t function = frame[1];
    const bool multiple =
        function == Function::WriteMultipleCoils || function == Function::WriteMultipleRegisters;
    const bool single =
        function == Function::WriteSingleCoil || function == Function::WriteSingleRegister;
    if (!IsRead(function) && !multiple && !single)
        return std::nullopt;
    Request request;
    request.station = frame[0];
    request.function = function;
    request.ref = ReferenceAt(Area(function), Word(frame, 2));
    request.data = Word(frame, 4);
    if (single)
        return request;
    // A count the protocol does not allow gets an exception; ReadReply needs none of those.
    if (request.data < 1 || request.data > MostCount(function))
        return std::nullopt;
    if (IsRead(function))
        return request;
    const std::size_t count = request.data;
    const bool bits = IsBitFunction(function);
    if (frame[6] != (bits ? (count + 7) / 8 : 2 * count))
        return std::nullopt;
    for (std::size_t i = 0; i < count; ++i)
        request.values.push_back(bits ? frame[7 + i / 8] >> (i % 8) & 1 : Word(frame, 7 + 2 * i));
    return request;
}

bool Answers(std::span<const std::uint8_t> request, std::span<const std::uint8_t> reply)
{
    if (const std::optional<Request> asked = RequestInFrame(request))
        return ReadReply(*asked, reply).shape == ReplyShape::Whole;
    if (request.size() < kLeastFrame || reply.size() < kLeastFrame || reply[0] != request[0])
        return false;
    if (reply[1] == (request[1] | kExceptionBit))
        return reply.size() == kExceptionSize;
    if (reply[1] != request[1])
        return false;
    // The same frame again is the master asking once more; diagnostics answers with its request.
    return request[1] == More::Diagnostics ||
           !std::equal(request.begin(), request.end(), reply.begin(), reply.end());
}

Asked ReadAsked(std::span<const std::uint8_t> frame)
{
    Asked asked;
    if (frame.size() < kLeastFrame) {
        asked.text = HexText(frame);
        return asked;
    }
    const std::optional<Request> request = RequestInFrame(frame);
    if (!request) {
        const std::uint8_t function = frame[1];
        const bool identification = function == More::Encapsulated && frame.size() > kLeastFrame &&
                                    frame[2] == More::DeviceIdentification;
        asked.text = identification ? "device identification" : FunctionName(function);
        const std::string data = HexText(DataOf(frame));
        if (!data.empty())
            asked.text += " " + data;
        return asked;
    }
    asked.ref = request->ref;
    const std::uint8_t function = request->function;
    if (IsRead(function)) {
        asked.count = request->data;
        asked.text = "read " + Range(request->ref, asked.count);
        return asked;
    }
    const std::string where = Range(request->ref, std::max<std::size_t>(1, request->values.size()));
    asked.count = static_cast<std::uint32_t>(std::max<std::size_t>(1, request->values.size()));
    if (function == Function::WriteSingleCoil) {
        const bool valid = request->data == kCoilOn || request->data == kCoilOff;
        asked.values = {valid ? (request->data == kCoilOn ? 1 : 0) : request->data};
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04X", request->data);
        asked.text =
            "write " + where + " = " +
            (valid ? (request->data == kCoilOn ? "on" : "off") : "hex " + std::string(hex));
        return asked;
    }
    if (function == Function::WriteSingleRegister)
        asked.values = {static_cast<std::int16_t>(request->data)};
    for (const std::uint16_t v : request->values)
        asked.values.push_back(IsBitFunction(function) ? v : static_cast<std::int16_t>(v));
    asked.text = "write " + where + " = " + Joined(asked.values);
    return asked;
}

Answered ReadAnswered(std::span<const std::uint8_t> request, std::span<const std::uint8_t> reply)
{
    Answered answered;
    if (reply.size() >= kExceptionSize && (reply[1] & kExceptionBit)) {
        const std::uint8_t code = ExceptionCodeOf(reply);
        const std::string name = ExceptionName(code);
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", code);
        answered.exception = code;
        answered.text = "exception " + std::string(hex) + (name.empty() ? "" : " " + name);
        return answered;
    }
    const std::optional<Request> asked = RequestInFrame(request);
    if (asked && ReadReply(*asked, reply).shape == ReplyShape::Whole) {
        if (IsRead(asked->function) && IsBitFunction(asked->function)) {
            for (const bool bit : BitsOf(reply, asked->data))
                answered.values.push_back(bit ? 1 : 0);
        } else if (IsRead(asked->function)) {
            for (const std::uint16_t word : RegistersOf(reply))
                answered.values.push_back(static_cast<std::int16_t>(word));
        } else {
            answered.text = "confirmed";
            return answered;
        }
        answered.text = Joined(answered.values);
        return answered;
    }
    answered.text = HexText(DataOf(reply));
    if (answered.text.empty())
        answered.text = "no data";
    return answered;
}
