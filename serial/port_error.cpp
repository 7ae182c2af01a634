#include "serial/port_error.h"

#include "serial/device.h"

std::string PortErrorText(const PortError& error)
{
    std::string text;
    switch (error.fault) {
    case PortFault::None:
        return {};
    case PortFault::NoSuchDevice:
        text = "no such device";
        break;
    case PortFault::InUse:
        text = "in use by another program";
        break;
    case PortFault::PermissionDenied:
        text = "Permission denied";
        break;
    case PortFault::NotSerial:
        text = "not a serial device";
        break;
    case PortFault::Disconnected:
        text = "device disconnected or closed";
        break;
    case PortFault::NotOpen:
        text = "port not open";
        break;
    case PortFault::BadAddress:
        text = "not a device server's address: tcp://HOST:PORT, PORT 1 to 65535, an IPv6 HOST in "
               "brackets";
        break;
    case PortFault::NameNotFound:
        text = "name not found";
        break;
    case PortFault::Refused:
        text = "connection refused";
        break;
    case PortFault::NoRoute:
        text = "no route to the device server";
        break;
    case PortFault::TimedOut:
        text = "no answer to the connection within " +
               std::to_string(static_cast<int>(kConnectSeconds)) + " s";
        break;
    case PortFault::ClosedByServer:
        text = "connection closed by the device server";
        break;
    case PortFault::System:
        text = error.system;
        break;
    }
    return error.device.empty() ? text : error.device + ": " + text;
}
