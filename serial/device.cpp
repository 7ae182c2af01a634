#include "device.h"

#include <cstdlib>

PortDevice DeviceForPort(int portNo)
{
    const std::string variable = "VEK_COM" + std::to_string(portNo);
    if (const char* value = std::getenv(variable.c_str()); value && *value)
        return {value, variable};
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
