#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The device that COM<portNo> stands for, and where that came from.
struct PortDevice
{
    std::string path;     // as handed to the system's open
    std::string variable; // "VEK_COM<n>" when the environment chose it, else empty
};

// The device a name given by the operator stands for, in VEK_COM<n> or on vek-cli's command line:
// a bare name such as ttyUSB0 means /dev/ttyUSB0, as the serial port opens it; on Windows COM12
// means \\.\COM12. A path, and a device server's address, stay as they are.
std::string DeviceFromName(std::string_view name);

// $VEK_COM<portNo> when set and not empty (as DeviceFromName takes it), else the platform's own
// name: \\.\COM<n> on Windows, /dev/ttyS<n-1> elsewhere (COM1 is /dev/ttyS0, as Linux numbers
// the first serial port).
PortDevice DeviceForPort(int portNo);

// What the option of COM<portNo> tells the operator about its device, for example
// "COM1: /dev/ttyUSB0 (from VEK_COM1)" or "COM2: /dev/ttyS1 (no such device)". `present` is
// whether the device is there now, which only the platform can tell, and which nothing tells of a
// device server short of connecting to it.
std::string PortTooltip(int portNo, bool present);

// A serial device server on the network that passes the line's bytes through a TCP connection
// unchanged ("raw" or "TCP server" mode), written tcp://HOST:PORT.
struct NetworkAddress
{
    std::string host; // a name, or an IPv4 or IPv6 address (without its brackets)
    std::uint16_t port = 0;
};

// How long a port waits for a device server to take its connection, name lookup included.
constexpr double kConnectSeconds = 3;

// Whether the device is a device server's address: it starts with tcp://, in any case.
bool IsNetworkDevice(std::string_view device);
// The address of tcp://HOST:PORT: HOST a name, an IPv4 address or an IPv6 address in brackets,
// PORT 1 to 65535, and nothing else. Nothing when the device is written otherwise.
std::optional<NetworkAddress> NetworkAddressOf(std::string_view device);
