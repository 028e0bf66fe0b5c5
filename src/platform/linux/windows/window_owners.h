#pragma once

#include "platform/linux/windows/ewmh_display.h"
#include "platform/running_applications.h"

#include <xcb/xcb.h>

#include <optional>
#include <vector>

namespace platform::x11 {

// The process behind each of `windows`, in the same order. The X server
// knows it from the client's own connection, so a sandboxed application,
// whose _NET_WM_PID counts in its own PID namespace, is found by the id the
// rest of the system knows it by. Only where the server cannot tell (no X
// Resource extension, a client on another machine) does the window's
// _NET_WM_PID stand in.
std::vector<std::optional<ProcessID>> processesOwning(EwmhDisplay& display, const std::vector<xcb_window_t>& windows);

} // namespace platform::x11
