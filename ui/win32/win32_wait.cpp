#include "win32_wait.h"

#include <mmsystem.h>

#include <algorithm>
#include <cmath>
#include <utility>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

HWND g_keyboardWindow = nullptr;
bool g_quitSeen = false;
HANDLE g_receiveEvent = nullptr;
std::function<void()> g_onReceive;

// The wait sleeps on a timer set to its deadline. A high-resolution one (Windows 10 1803 on)
// fires within a fraction of a millisecond; an ordinary one only at the next tick of the
// system timer (up to 15.6 ms), which timeBeginPeriod shortens to about a millisecond.
struct Timer
{
    HANDLE handle = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                           TIMER_ALL_ACCESS);
    bool precise = handle != nullptr;
    Timer()
    {
        if (!handle)
            handle = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    }
    ~Timer() { CloseHandle(handle); }
};

} // namespace

void SetReceiveEvent(HANDLE event, std::function<void()> onEvent)
{
    g_receiveEvent = event;
    g_onReceive = std::move(onEvent);
}

void SetKeyboardWindow(HWND window)
{
    g_keyboardWindow = window;
}

void DispatchOne(MSG& msg)
{
    if (g_keyboardWindow && (msg.hwnd == g_keyboardWindow || IsChild(g_keyboardWindow, msg.hwnd))) {
        // Enter starts nothing, not even on a focused push button, which the dialog manager
        // of Windows presses as though it were the default button.
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN)
            return;
        if (IsDialogMessageW(g_keyboardWindow, &msg))
            return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

void RunPendingEvents(double maxSeconds)
{
    static Timer timer;
    const double seconds = std::clamp(maxSeconds, 0.0, 60.0);
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(std::ceil(seconds * 1e7)); // relative, 100 ns units
    if (seconds > 0) {
        const bool armed = SetWaitableTimer(timer.handle, &due, 0, nullptr, nullptr, FALSE);
        const DWORD ms = armed ? INFINITE : static_cast<DWORD>(std::ceil(seconds * 1000));
        HANDLE handles[2];
        DWORD count = 0;
        if (armed)
            handles[count++] = timer.handle;
        if (g_receiveEvent)
            handles[count++] = g_receiveEvent;
        if (!timer.precise)
            timeBeginPeriod(1);
        // Once the program's quit message has been seen, the queue is no reason to wake.
        if (g_quitSeen && count > 0)
            WaitForMultipleObjects(count, handles, FALSE, ms);
        else if (g_quitSeen)
            Sleep(ms);
        else
            MsgWaitForMultipleObjectsEx(count, handles, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (!timer.precise)
            timeEndPeriod(1);
    }
    // Whatever woke the wait: received bytes are dated as soon as it runs. A copy runs, as the
    // port may end its own registration.
    if (g_receiveEvent && WaitForSingleObject(g_receiveEvent, 0) == WAIT_OBJECT_0) {
        const std::function<void()> onReceive = g_onReceive;
        onReceive();
    }
    MSG msg;
    while (!g_quitSeen && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // For the main loop, which ends the program once the command has returned.
            g_quitSeen = true;
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        DispatchOne(msg);
    }
}

WaitServices Win32WaitServices()
{
    return WaitServices{&SteadySeconds, &RunPendingEvents, {}};
}
