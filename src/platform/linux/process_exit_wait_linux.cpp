#include "platform/linux/process_exit_wait.h"
#include "platform/linux/proc_entries.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <thread>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto pollingInterval = std::chrono::milliseconds(20);

std::chrono::milliseconds remainingUntil(Clock::time_point deadline)
{
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max(remaining, std::chrono::milliseconds(0));
}

bool hasEnded(pid_t pid)
{
    const auto state = procfs::processState(pid);
    return !state || *state == 'Z' || *state == 'X';
}

bool pollUntilEnded(pid_t pid, Clock::time_point deadline)
{
    for (;;) {
        if (hasEnded(pid))
            return true;
        const auto remaining = remainingUntil(deadline);
        if (remaining.count() == 0)
            return false;
        std::this_thread::sleep_for(std::min(remaining, pollingInterval));
    }
}

// A process descriptor becomes readable when the process exits, so no
// polling is needed. Nothing when descriptors are not available here.
std::optional<bool> waitOnProcessDescriptor(pid_t pid, Clock::time_point deadline)
{
    const int descriptor = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (descriptor < 0)
        return errno == ESRCH ? std::optional(true) : std::nullopt;
    std::optional<bool> ended;
    pollfd watched {descriptor, POLLIN, 0};
    for (;;) {
        const int ready = poll(&watched, 1, static_cast<int>(remainingUntil(deadline).count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready >= 0)
            ended = ready > 0;
        break;
    }
    close(descriptor);
    return ended;
}

} // namespace

bool waitForProcessExit(pid_t pid, std::chrono::milliseconds bound)
{
    const auto deadline = Clock::now() + bound;
    if (const auto ended = waitOnProcessDescriptor(pid, deadline))
        return *ended;
    return pollUntilEnded(pid, deadline);
}

bool waitForProcessExitByPolling(pid_t pid, std::chrono::milliseconds bound)
{
    return pollUntilEnded(pid, Clock::now() + bound);
}

} // namespace platform
