#include "serial/device.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

namespace {

constexpr std::string_view kScheme = "tcp://";

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Letters, digits, dots and hyphens (names, IPv4; a name may hold underscores too), and in
// brackets colons and a zone (fe80::1%eth0): nothing that a name service or the system could take
// for more than an address.
bool IsHost(std::string_view host, bool bracketed)
{
    return !host.empty() && std::all_of(host.begin(), host.end(), [&](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ||
               (bracketed ? c == ':' || c == '%' : c == '_');
    });
}

} // namespace

bool IsNetworkDevice(std::string_view device)
{
    return device.size() >= kScheme.size() &&
           std::equal(kScheme.begin(), kScheme.end(), device.begin(), [](char a, char b) {
               return a == std::tolower(static_cast<unsigned char>(b));
           });
}

std::optional<NetworkAddress> NetworkAddressOf(std::string_view device)
{
    if (!IsNetworkDevice(device))
        return std::nullopt;
    const std::string_view rest = device.substr(kScheme.size());
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    std::string_view host = rest.substr(0, colon);
    const std::string_view port = rest.substr(colon + 1);
    const bool bracketed = host.starts_with('[') && host.ends_with(']') && host.size() > 2;
    if (bracketed)
        host = host.substr(1, host.size() - 2);
    // An IPv6 address without brackets would leave its last group for the port.
    if (!IsHost(host, bracketed) || (bracketed && host.find(':') == std::string_view::npos) ||
        port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), IsDigit))
        return std::nullopt;
    const long number = std::stol(std::string(port));
    if (number < 1 || number > 65535)
        return std::nullopt;
    return NetworkAddress{std::string(host), static_cast<std::uint16_t>(number)};
}

std::string DeviceFromName(std::string_view name)
{
    if (IsNetworkDevice(name))
        return std::string(name);
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
    if (!present && !IsNetworkDevice(device.path))
        text += " (no such device)";
    return text;
}
