// vek-cli's serial port and wait on Qt, without a window or a display.
#include "platform.h"

#include "qt_serial_port.h"
#include "qt_tcp_port.h"
#include "qt_wait.h"
#include "serial/device_port.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

void (*g_interrupted)() = nullptr;
int g_wake[2] = {-1, -1};

// Qt's event loop sleeps through signals (it polls again after EINTR): a byte down a pipe that it
// watches wakes it.
extern "C" void OnSignal(int signal)
{
    g_interrupted();
    [[maybe_unused]] const ssize_t written = ::write(g_wake[1], "!", 1);
    std::signal(signal, SIG_DFL);
}

class QtPlatform final : public Platform
{
public:
    QtPlatform(int& argc, char** argv) : m_app(argc, argv) {}
    SerialPort& Port() override { return m_port; }
    WaitServices Wait() const override { return QtWaitServices(); }
    void CatchInterrupts(void (*interrupted)()) override
    {
        g_interrupted = interrupted;
        if (::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) == 0) {
            m_wake = std::make_unique<QSocketNotifier>(g_wake[0], QSocketNotifier::Read);
            QObject::connect(m_wake.get(), &QSocketNotifier::activated, [] {
                char drained[16];
                while (::read(g_wake[0], drained, sizeof drained) > 0) {
                }
            });
        }
        std::signal(SIGINT, OnSignal);
        std::signal(SIGTERM, OnSignal);
    }

private:
    QCoreApplication m_app; // before the ports, which need it until they are gone
    QtSerialPort m_serial;
    QtTcpPort m_network;
    DevicePort m_port{m_serial, m_network};
    std::unique_ptr<QSocketNotifier> m_wake;
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
