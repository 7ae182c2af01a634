// vek-cli's serial port and wait on Qt, without a window or a display.
#include "platform.h"

#include "qt_serial_port.h"
#include "qt_tcp_port.h"
#include "qt_wait.h"
#include "serial/device_port.h"

#include <QCoreApplication>

#include <unistd.h>

namespace {

class QtPlatform final : public Platform
{
public:
    QtPlatform(int& argc, char** argv) : m_app(argc, argv) {}
    SerialPort& Port() override { return m_port; }
    WaitServices Wait() const override { return QtWaitServices(); }

private:
    QCoreApplication m_app; // before the ports, which need it until they are gone
    QtSerialPort m_serial;
    QtTcpPort m_network;
    DevicePort m_port{m_serial, m_network};
};

} // namespace

std::unique_ptr<Platform> MakePlatform(int& argc, char** argv)
{
    return std::make_unique<QtPlatform>(argc, argv);
}

std::vector<std::string> Arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
}

bool IsTerminal(std::FILE* stream)
{
    return isatty(fileno(stream)) == 1;
}
