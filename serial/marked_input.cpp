#include "serial/marked_input.h"

void MarkedInput::Decode(std::span<const std::uint8_t> raw, Bytes& out)
{
    out.reserve(out.size() + raw.size());
    for (const std::uint8_t byte : raw) {
        switch (m_seen) {
        case 0:
            if (byte == 0xFF)
                m_seen = 1;
            else
                out.push_back(byte);
            break;
        case 1:
            if (byte == 0x00) {
                m_seen = 2;
                break;
            }
            // FF FF is a received FF. The system puts nothing else after FF; should anything
            // else come, it is no byte the line vouched for either.
            m_seen = 0;
            out.push_back(byte == 0xFF ? byte : kErrorByte);
            break;
        default:
            m_seen = 0;
            out.push_back(kErrorByte);
        }
    }
}
