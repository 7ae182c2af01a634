#include "serial/device.h"

#include <cstdlib>
#include <string_view>

std::string DeviceFromName(std::string_view name)
{
#ifdef _WIN32
    // A bare port name such as COM12 is a device: CreateFile finds COM10 and up only as \\.\COM10.
    if (name.find_first_of("\\/:") == std::string_view::npos)
        return "\\\\.\\" + std::string(name);
#else
    // As the serial port's opening resolves it, so that a failure's reason and the option's
    // tooltip speak of the same device.
    if (!name.starts_with('/') && !name.starts_with("./") && !name.starts_with("../"))
        return "/dev/" + std::string(name);
#endif
    return std::string(name);
}

PortDevice DeviceForPort(int portNo)
{
    const std::string variable = "VEK_COM" + std::to_string(portNo);
    if (const char* value = std::getenv(variable.c_str()); value && *value)
        return {DeviceFromName(value), variable};
#ifdef _WIN32
    return {"\\\\.\\COM" + std::to_string(portNo), {}};
#else
    return {"/dev/ttyS" + std::to_string(portNo - 1), {}};
#endif
}

std::string PortTooltip(int portNo, bool present)
{
    const PortDevice device = DeviceForPort(portNo);
    std::string text = "COM" + std::to_string(portNo) + ": " + device.path;
    if (!device.variable.empty())
        text += " (from " + device.variable + ")";
    if (!present)
        text += " (no such device)";
    return text;
}
