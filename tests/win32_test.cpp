// What can go wrong in the Win32 front-end beyond the shared core: the line settings handed to
// the driver, the reasons a port will not open, the wait on the steady clock and message queue,
// and what the window hands to the clipboard and to screen readers.
#include "main_window.h"
#include "serial/device.h"
#include "win32_serial_port.h"
#include "win32_text.h"
#include "win32_wait.h"

#include <gtest/gtest.h>
#include <oleacc.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>

namespace {

TEST(Win32SerialPort, SettingsBecomeTheDcb)
{
    struct Case
    {
        LineSettings settings;
        BYTE parity;
    } cases[] = {
        {{38400, Parity::None}, NOPARITY},
        {{19200, Parity::Even}, EVENPARITY},
        {{9600, Parity::Odd}, ODDPARITY},
    };
    for (const Case& c : cases) {
        const std::string name = SettingsText(c.settings);
        // Whatever the driver had before, none of it kept: every flag and field set, or none.
        DCB dcb, fromNothing{};
        std::memset(&dcb, 0xFF, sizeof dcb);
        FillDcb(dcb, c.settings);
        FillDcb(fromNothing, c.settings);
        EXPECT_EQ(std::memcmp(&dcb, &fromNothing, sizeof dcb), 0) << name;
        EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(c.settings.baud)) << name;
        EXPECT_EQ(dcb.Parity, c.parity) << name;
        EXPECT_EQ(dcb.fParity, c.parity != NOPARITY) << name;
        EXPECT_EQ(dcb.ByteSize, 8) << name;
        EXPECT_EQ(dcb.StopBits, ONESTOPBIT) << name;
        EXPECT_TRUE(dcb.fBinary) << name;
        EXPECT_FALSE(dcb.fOutxCtsFlow || dcb.fOutxDsrFlow || dcb.fDsrSensitivity || dcb.fOutX ||
                     dcb.fInX)
            << name << ": no flow control";
        EXPECT_TRUE(dcb.XonChar == 0x11 && dcb.XoffChar == 0x13 && dcb.XonLim == 2048 &&
                    dcb.XoffLim == 512 && dcb.EofChar == 0 && dcb.EvtChar == 0)
            << name << ": what Xon/Xoff would use, and no special characters";
        EXPECT_FALSE(dcb.fNull || dcb.fAbortOnError) << name << ": none dropped, none stopped";
        EXPECT_EQ(dcb.fErrorChar, c.parity != NOPARITY) << name;
        EXPECT_EQ(dcb.ErrorChar, '?') << name << ": a byte with a parity error";
        EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_ENABLE) << name;
        EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_ENABLE) << name;
    }
}

TEST(Win32SerialPort, SaysWhyAPortWillNotOpen)
{
    // A plain file stands in for a device that is no serial port.
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::string file = Narrow(temp) + "vek-win32-test.txt";
    const HANDLE created = CreateFileW(Wide(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_TEMPORARY, nullptr);
    ASSERT_NE(created, INVALID_HANDLE_VALUE);
    CloseHandle(created);

    struct Case
    {
        std::string path;
        bool heldElsewhere;
        const char* reason;
    } cases[] = {
        {Narrow(temp) + "no-such-port", false, "no such device"},
        {file, false, "not a serial device"},
        {file, true, "in use by another program"},
    };
    for (const Case& c : cases) {
        const HANDLE held = c.heldElsewhere ? CreateFileW(Wide(file).c_str(), GENERIC_READ, 0,
                                                          nullptr, OPEN_EXISTING, 0, nullptr)
                                            : INVALID_HANDLE_VALUE;
        Win32SerialPort port;
        EXPECT_FALSE(port.Open(c.path, LineSettings{}));
        EXPECT_EQ(PortErrorText(port.Error()), c.path + ": " + c.reason);
        EXPECT_FALSE(port.IsOpen());
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
    }
    DeleteFileW(Wide(file).c_str());
}

int g_fired = 0;

double Seconds()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

TEST(Win32Wait, NeverEndsEarlyLetsMessagesRunAndSleeps)
{
    struct Case
    {
        const char* name;
        double replyWait;
        UINT timerMs;  // a timer message during the wait; 0: an idle queue
        int maxPasses; // a spinning wait makes thousands
    } cases[] = {
        {"idle, the commands' wait", 0.2, 0, 10},
        {"under a millisecond", 0.0004, 0, 10},
        {"just over whole milliseconds", 0.0301, 0, 10},
        {"a timer every 10 ms", 0.1, 10, 40},
    };
    for (const Case& c : cases) {
        g_fired = 0;
        const UINT_PTR timer = c.timerMs ? SetTimer(nullptr, 0, c.timerMs,
                                                    [](HWND, UINT, UINT_PTR, DWORD) { ++g_fired; })
                                         : 0;
        int passes = 0;
        WaitServices services = Win32WaitServices();
        services.runPendingEvents = [&, run = services.runPendingEvents](double maxSeconds) {
            ++passes;
            run(maxSeconds);
        };
        const double start = Seconds();
        EXPECT_EQ(AwaitReply(c.replyWait, services), WaitEnd::Elapsed) << c.name;
        const double waited = Seconds() - start;
        if (timer)
            KillTimer(nullptr, timer);

        EXPECT_GE(waited, c.replyWait) << c.name;
        // Timed asserts would fail on a busy machine; this bound catches only a coarse timer.
        EXPECT_LT(waited, c.replyWait + 0.15) << c.name;
        EXPECT_LE(passes, c.maxPasses) << c.name;
        if (c.timerMs) {
            EXPECT_GE(g_fired, 2) << c.name << ": messages must run during the wait";
        }
        RecordProperty(c.name, std::to_string((waited - c.replyWait) * 1000) + " ms late");
        std::printf("%s: %.3f ms late, %d passes\n", c.name, (waited - c.replyWait) * 1000, passes);
    }
}

// mingw-w64's win32-threads flavour builds libstdc++ without clock_gettime, and its steady_clock
// is then the time of day, which a clock step moves; the posix flavour's is the performance
// counter.
TEST(Win32Wait, ClockIsThePerformanceCounter)
{
    EXPECT_NEAR(Win32WaitServices().clock(), Seconds(), 0.01);
}

// Stands in for the system's service of accessible names and descriptions, which wine only
// stubs: it keeps the description set last on each window.
struct Annotations final : IClassFactory, IAccPropServices
{
    std::map<HWND, std::wstring> descriptions;

    HRESULT WINAPI QueryInterface(REFIID iid, void** out) override
    {
        *out = iid == IID_IClassFactory ? static_cast<void*>(static_cast<IClassFactory*>(this))
                                        : static_cast<IAccPropServices*>(this);
        return S_OK;
    }
    ULONG WINAPI AddRef() override { return 1; }
    ULONG WINAPI Release() override { return 1; }
    HRESULT WINAPI CreateInstance(IUnknown*, REFIID iid, void** out) override
    {
        return QueryInterface(iid, out);
    }
    HRESULT WINAPI LockServer(BOOL) override { return S_OK; }
    HRESULT WINAPI SetHwndPropStr(HWND hwnd, DWORD, DWORD, MSAAPROPID prop, LPCWSTR text) override
    {
        if (prop == PROPID_ACC_DESCRIPTION)
            descriptions[hwnd] = text;
        return S_OK;
    }
    // clang-format off
#define UNUSED(method, ...) HRESULT WINAPI method(__VA_ARGS__) override { return E_NOTIMPL; }
    UNUSED(SetPropValue, const BYTE*, DWORD, MSAAPROPID, VARIANT)
    UNUSED(SetPropServer, const BYTE*, DWORD, const MSAAPROPID*, int, IAccPropServer*, AnnoScope)
    UNUSED(ClearProps, const BYTE*, DWORD, const MSAAPROPID*, int)
    UNUSED(SetHwndProp, HWND, DWORD, DWORD, MSAAPROPID, VARIANT)
    UNUSED(SetHwndPropServer, HWND, DWORD, DWORD, const MSAAPROPID*, int, IAccPropServer*, AnnoScope)
    UNUSED(ClearHwndProps, HWND, DWORD, DWORD, const MSAAPROPID*, int)
    UNUSED(ComposeHwndIdentityString, HWND, DWORD, DWORD, BYTE**, DWORD*)
    UNUSED(DecomposeHwndIdentityString, const BYTE*, DWORD, HWND*, DWORD*, DWORD*)
    UNUSED(SetHmenuProp, HMENU, DWORD, MSAAPROPID, VARIANT)
    UNUSED(SetHmenuPropStr, HMENU, DWORD, MSAAPROPID, LPCWSTR)
    UNUSED(SetHmenuPropServer, HMENU, DWORD, const MSAAPROPID*, int, IAccPropServer*, AnnoScope)
    UNUSED(ClearHmenuProps, HMENU, DWORD, const MSAAPROPID*, int)
    UNUSED(ComposeHmenuIdentityString, HMENU, DWORD, BYTE**, DWORD*)
    UNUSED(DecomposeHmenuIdentityString, const BYTE*, DWORD, HMENU*, DWORD*)
#undef UNUSED
    // clang-format on
};

// The clipboard's text; nothing when it holds none.
std::optional<std::wstring> Clipboard()
{
    std::optional<std::wstring> text;
    if (!OpenClipboard(nullptr))
        return text;
    if (const HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        text = static_cast<const wchar_t*>(GlobalLock(data));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

// Needs a display: wine_end_to_end runs it; without one it is skipped. Last in this file, as the
// window's end leaves a quit message behind.
TEST(Win32Window, CopiesDetailsAndDescribesComOptions)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    Annotations annotations;
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_AccPropServices,
                                    static_cast<IClassFactory*>(&annotations), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    // COM1 is a file that is there, then is not.
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::string device = Narrow(temp) + "vek-com1";
    CloseHandle(
        CreateFileW(Wide(device).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    _putenv_s("VEK_COM1", device.c_str());

    MainWindow window(GetModuleHandleW(nullptr));
    if (!window.Window())
        GTEST_SKIP() << "no display";
    const auto item = [&](const char* name) {
        return GetDlgItem(window.Window(), kFirstControlId + ControlIndex(name));
    };
    EXPECT_EQ(Narrow(annotations.descriptions[item("Com1")]), PortTooltip(1, true));
    DeleteFileW(Wide(device).c_str());
    SendMessageW(window.Window(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(item("Com1")), BN_SETFOCUS),
                 reinterpret_cast<LPARAM>(item("Com1")));
    EXPECT_EQ(Narrow(annotations.descriptions[item("Com1")]), PortTooltip(1, false));

    window.Show(SW_SHOWNORMAL);
    RECT result{}, button{};
    GetWindowRect(item("Rx_data"), &result);
    GetWindowRect(item("TX1"), &button);
    const LPARAM onResult = MAKELPARAM(result.left + 2, result.top + 2);
    const LPARAM onButton = MAKELPARAM(button.left + 2, button.top + 2);
    const struct
    {
        const char* how;
        LPARAM at;
        const char* detail;
        std::optional<std::wstring> copied;
    } cases[] = {
        {"right-click on the result, no detail yet", onResult, "", {}},
        {"right-click on the result", onResult, "Read\nA", L"Read\r\nA"},
        {"context-menu key", -1, "Write", L"Write"},
        {"right-click on a button", onButton, "Read", {}},
    };
    for (const auto& c : cases) {
        OpenClipboard(nullptr);
        EmptyClipboard();
        CloseClipboard();
        window.SetRxDetail(c.detail);
        // For the menu's own loop: the item's mnemonic, then Escape for a menu still open.
        PostMessageW(window.Window(), WM_CHAR, L'c', 0);
        PostMessageW(window.Window(), WM_KEYDOWN, VK_ESCAPE, 0);
        SendMessageW(window.Window(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window.Window()),
                     c.at);
        for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) {
        }
        EXPECT_EQ(Clipboard(), c.copied) << c.how;
    }
    CoRevokeClassObject(cookie);
}

} // namespace
