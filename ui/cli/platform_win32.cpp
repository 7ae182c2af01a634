// vek-cli's serial port and wait on Win32, in a console program.
#include "platform.h"

#include "serial/device_port.h"
#include "win32_serial_port.h"
#include "win32_tcp_port.h"
#include "win32_text.h"
#include "win32_wait.h"

#include <io.h>
#include <shellapi.h>

namespace {

class Win32Platform final : public Platform
{
public:
    SerialPort& Port() override { return m_port; }
    WaitServices Wait() const override { return Win32WaitServices(); }

private:
    Win32SerialPort m_serial;
    Win32TcpPort m_network;
    DevicePort m_port{m_serial, m_network};
};

} // namespace

std::unique_ptr<Platform> MakePlatform(int&, char**)
{
    return std::make_unique<Win32Platform>();
}

// From the wide command line: argv is in the ANSI code page, which cannot hold every path.
std::vector<std::string> Arguments(int, char**)
{
    int n = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
    std::vector<std::string> args;
    for (int i = 1; wide && i < n; ++i)
        args.push_back(Narrow(wide[i]));
    LocalFree(wide);
    return args;
}

bool IsTerminal(std::FILE* stream)
{
    return _isatty(_fileno(stream)) != 0;
}
