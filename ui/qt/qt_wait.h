#pragma once

#include "serial/exchange.h"

// The wait's services on Qt: the steady clock and the Qt event loop of this thread.
void RunPendingEvents(double maxSeconds);
WaitServices QtWaitServices();
