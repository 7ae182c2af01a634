#pragma once

#include "serial/exchange.h"

#include <windows.h>

#include <functional>

// The wait's services on Win32: the core's steady clock, and this thread's message queue.
void RunPendingEvents(double maxSeconds);
WaitServices Win32WaitServices();

// While a serial port is open, its receive event (a manual-reset event) wakes the wait as well,
// and `onEvent` runs once it is signalled. Nothing: no such event.
void SetReceiveEvent(HANDLE event, std::function<void()> onEvent);

// Every message of the program, in the main loop and in the wait, goes through here: the keys
// of `window`'s controls (Tab, the arrows, the space bar) go through the dialog manager.
void SetKeyboardWindow(HWND window);
void DispatchOne(MSG& msg);
