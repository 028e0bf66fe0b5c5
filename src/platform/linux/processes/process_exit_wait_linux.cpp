#include "platform/linux/common/owned_descriptor.h"
#include "platform/linux/common/retrying_io.h"
#include "platform/linux/kernel_tables/proc_entries.h"
#include "platform/linux/processes/process_exit_wait.h"

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

constexpr auto kPollingInterval = std::chrono::milliseconds(20);

std::chrono::milliseconds remainingUntil(Clock::time_point deadline)
{
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max(remaining, std::chrono::milliseconds(0));
}

bool hasEnded(pid_t pid)
{
    // A process we cannot read for another reason has not been seen to end.
    const auto state = procfs::processState(pid);
    if (!state)
        return state.gone();
    return *state == 'Z' || *state == 'X';
}

bool pollUntilEnded(pid_t pid, Clock::time_point deadline)
{
    for (;;) {
        if (hasEnded(pid))
            return true;
        const auto remaining = remainingUntil(deadline);
        if (remaining.count() == 0)
            return false;
        std::this_thread::sleep_for(std::min(remaining, kPollingInterval));
    }
}

// A process descriptor becomes readable when the process exits, so no
// polling is needed. Nothing when descriptors are not available here.
std::optional<bool> waitOnProcessDescriptor(pid_t pid, Clock::time_point deadline)
{
    const linux_files::OwnedDescriptor descriptor(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    if (!descriptor.isValid())
        return errno == ESRCH ? std::optional(true) : std::nullopt;
    pollfd watched { descriptor.get(), POLLIN, 0 };
    const int ready = linux_files::retryingInterrupts(
        [&] { return poll(&watched, 1, static_cast<int>(remainingUntil(deadline).count())); });
    if (ready < 0)
        return std::nullopt;
    return ready > 0;
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
