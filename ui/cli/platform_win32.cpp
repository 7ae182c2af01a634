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

void (*g_interrupted)() = nullptr;
DWORD g_mainThread = 0;
volatile LONG g_signals = 0;

// Runs on a thread of its own: marks the command given up and wakes the wait with a message. The
// second one is left to the system, which ends the program.
BOOL WINAPI OnConsoleControl(DWORD)
{
    if (InterlockedIncrement(&g_signals) > 1)
        return FALSE;
    g_interrupted();
    PostThreadMessageW(g_mainThread, WM_NULL, 0, 0);
    return TRUE;
}

class Win32Platform final : public Platform
{
public:
    SerialPort& Port() override { return m_port; }
    WaitServices Wait() const override { return Win32WaitServices(); }
    void CatchInterrupts(void (*interrupted)()) override
    {
        g_interrupted = interrupted;
        g_mainThread = GetCurrentThreadId();
        SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    }

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
