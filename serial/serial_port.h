#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// The few things a command needs from a serial port. Every call either does its job or returns a
// failure and leaves the reason in Reason(); nothing blocks longer than the driver needs to accept
// eight bytes.
class SerialPort
{
public:
    virtual ~SerialPort() = default;

    // Opens COM<portNo> with settings such as "19200,N,8,1" and empty receive and transmit
    // buffers.
    virtual bool Open(int portNo, const std::string& settings) = 0;
    // Closes the port; whatever was received and not taken is lost. Harmless when closed.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Puts every byte on its way to the line, once, in order, unaltered, and returns without
    // waiting for an answer.
    virtual bool Send(std::span<const std::uint8_t> bytes) = 0;
    // How many received bytes are waiting to be taken.
    virtual std::optional<std::size_t> BytesWaiting() = 0;
    // Takes every waiting byte, in arrival order, zero bytes included.
    virtual std::optional<Bytes> TakeAll() = 0;
    // Why the last failing call failed, for example "/dev/ttyS2: Permission denied".
    virtual std::string Reason() const = 0;
};
