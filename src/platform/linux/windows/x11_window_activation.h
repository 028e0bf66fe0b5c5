#pragma once

#include "platform/running_applications.h"

namespace platform::x11 {

// Brings forward every top-level window that names `process` as its owner
// (_NET_WM_PID) on the display in DISPLAY. Does nothing when no display can
// be reached.
void activateWindowsOfProcess(ProcessID process);

} // namespace platform::x11
