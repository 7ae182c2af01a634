#pragma once

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
// means \\.\COM12. A path stays as it is.
std::string DeviceFromName(std::string_view name);

// $VEK_COM<portNo> when set and not empty (as DeviceFromName takes it), else the platform's own
// name: \\.\COM<n> on Windows, /dev/ttyS<n-1> elsewhere (COM1 is /dev/ttyS0, as Linux numbers
// the first serial port).
PortDevice DeviceForPort(int portNo);

// What the option of COM<portNo> tells the operator about its device, for example
// "COM1: /dev/ttyUSB0 (from VEK_COM1)" or "COM2: /dev/ttyS1 (no such device)". `present` is
// whether the device is there now, which only the platform can tell.
std::string PortTooltip(int portNo, bool present);
