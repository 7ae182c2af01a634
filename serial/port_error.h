#pragma once

#include <string>

// Why a serial port could not be used. Each platform's port maps its own error codes onto these;
// the texts the operator reads are written once, in PortErrorText.
enum class PortFault {
    None,
    NoSuchDevice,
    InUse,            // held by another program (lock file, flock, exclusive open)
    PermissionDenied, // the user may not open it (on Linux: not in the group dialout)
    NotSerial,        // a file or device that is no serial port
    Disconnected,     // went away while open: adapter unplugged, other end closed
    NotOpen,
    // A device server's connection (tcp://HOST:PORT):
    BadAddress,       // not written as such an address
    NameNotFound,     // no name service knows HOST
    Refused,          // nothing takes connections at PORT
    NoRoute,          // the network has no way to HOST
    TimedOut,         // no answer to the connection within kConnectSeconds
    ClosedByServer,   // the server ended the connection during the command
    System,           // anything else, in the system's own words
};

struct PortError
{
    PortFault fault = PortFault::None;
    std::string device; // as opened, for example "/dev/ttyUSB0", "\\.\COM3" or "tcp://host:4001"
    std::string system; // the system's message, for PortFault::System
};

// For example "/dev/ttyS2: in use by another program".
std::string PortErrorText(const PortError& error);
