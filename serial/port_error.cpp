#include "serial/port_error.h"

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
    case PortFault::System:
        text = error.system;
        break;
    }
    return error.device.empty() ? text : error.device + ": " + text;
}
