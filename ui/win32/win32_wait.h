#pragma once

#include "exchange.h"

#include <windows.h>

// The wait's services on Win32: the local time of day to a fraction of a microsecond, and this
// thread's message queue.
double ClockSeconds();
void RunPendingEvents(double maxSeconds);
WaitServices Win32WaitServices();

// Every message of the program, in the main loop and in the wait, goes through here: the keys
// of `window`'s controls (Tab, the arrows, the space bar) go through the dialog manager.
void SetKeyboardWindow(HWND window);
void DispatchOne(MSG& msg);
