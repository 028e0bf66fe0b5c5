#pragma once

#include <sys/types.h>

#include <chrono>

namespace platform {

// Waits until the process `pid` has ended, or `bound` has passed. True when
// it has ended. A process that has exited but has not been reaped by its
// parent (a zombie) has ended: it holds nothing any more, and its parent may
// never reap it.
bool waitForProcessExit(pid_t pid, std::chrono::milliseconds bound);

// The same by looking at /proc every few milliseconds, for kernels or
// sandboxes that refuse process descriptors.
bool waitForProcessExitByPolling(pid_t pid, std::chrono::milliseconds bound);

} // namespace platform
