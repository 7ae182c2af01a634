#pragma once

#include "serial/line_settings.h"
#include "serial/port_error.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct WaitServices; // serial/exchange.h

// When received bytes came in: at `time` (SteadySeconds), `total` bytes had arrived since the
// port opened.
struct Arrival
{
    double time = 0;
    std::size_t total = 0;
};

// The few things a command needs from a serial port. Every call either does its job or returns a
// failure and leaves the reason in Error(); nothing blocks longer than the driver needs to accept
// eight bytes.
class SerialPort
{
public:
    virtual ~SerialPort() = default;

    // Opens the device (a path such as /dev/ttyUSB0 or \\.\COM3) with the settings and empty
    // receive and transmit buffers.
    virtual bool Open(const std::string& device, const LineSettings& settings) = 0;
    // Open for a command: a port that takes its time to open (a connection to a device server)
    // runs the wait's events meanwhile, and stops, closed, once the command is given up. A
    // serial port opens at once.
    virtual bool OpenWithEvents(const std::string& device, const LineSettings& settings,
                                const WaitServices& /*wait*/)
    {
        return Open(device, settings);
    }
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
    // When the bytes received since the open came in, as the system's receive events told it, in
    // order; empty where the port cannot tell.
    virtual std::vector<Arrival> Arrivals() const { return {}; }
    // Throws away every received byte not taken, so that a port kept open starts its next
    // exchange afresh; where the port keeps receive times, they start afresh too (totals count
    // from here).
    virtual bool Discard() { return TakeAll().has_value(); }
    // Drops the times of the first `total` bytes since the open, once they have been read: a port
    // that stays open for hours keeps only the times still wanted.
    virtual void ForgetArrivals(std::size_t total) { (void)total; }
    // Why the first failing call since the last Open failed.
    virtual PortError Error() const = 0;
};
