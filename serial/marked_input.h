#pragma once

#include "serial/serial_port.h"

#include <cstdint>
#include <span>

// Input from a terminal that marks its receive errors (PARMRK): FF 00 x is a byte x received with
// a parity or framing error (a break reads FF 00 00), FF FF is a received FF. Each marked byte
// becomes '?', as Windows' error character makes it, so that a reply through a wrong parity
// fails its CRC instead of passing as a value; every other byte is handed over as it came.
// A read may end inside a mark: the part seen is kept until the next one.
class MarkedInput
{
public:
    static constexpr std::uint8_t kErrorByte = '?';

    // Appends what `raw`, the next bytes read, stand for to `out`.
    void Decode(std::span<const std::uint8_t> raw, Bytes& out);
    // True while a mark is cut off after its first bytes.
    bool InsideMark() const { return m_seen != 0; }
    // Forgets a mark cut off by a flush of the input.
    void Reset() { m_seen = 0; }

private:
    int m_seen = 0; // bytes of the current mark seen: 0, 1 (FF) or 2 (FF 00)
};
