#pragma once

#include "exchange.h"

// The wait's services on Qt: the wall clock and the Qt event loop of this thread.
double ClockSeconds();
void RunPendingEvents(double maxSeconds);
WaitServices QtWaitServices();
