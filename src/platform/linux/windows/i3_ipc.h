#pragma once

// sway and i3 take commands over a Unix socket of their own (the i3 IPC
// protocol: "i3-ipc", the payload's length and the message type, then the
// payload). Their windows carry the process id the compositor read from the
// client's socket, so a process's windows are found by it, sandboxed ones
// too.

#include "platform/running_applications.h"

#include <chrono>
#include <optional>
#include <string>

namespace platform::i3 {

// The IPC socket of the session's sway or i3 ($SWAYSOCK, then $I3SOCK).
std::optional<std::string> sessionSocket();

// Focuses every window of `process`, the last one focused ending on top.
// True when at least one was focused; false when none matched or the
// compositor did not answer within `bound`.
bool focusWindowsOf(const std::string& socketPath, ProcessID process, std::chrono::milliseconds bound);

} // namespace platform::i3
