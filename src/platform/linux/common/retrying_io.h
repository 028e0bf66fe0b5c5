#pragma once

#include <cerrno>
#include <string_view>
#include <sys/types.h>

namespace platform::linux_files {

// Repeats a system call that a signal interrupted before it did anything:
// the signal is no fault of the caller's, and every caller would otherwise
// write the same loop around read, write, recv, poll and the like.
template<typename SystemCall>
auto retryingInterrupts(SystemCall call)
{
    for (;;) {
        auto result = call();
        if (!(result < 0 && errno == EINTR))
            return result;
    }
}

// Reads what there is, up to `length`; the count, 0 at the end, -1 on error.
ssize_t readRetryingInterrupts(int descriptor, void* into, std::size_t length);

// Writes all of `bytes`, in as many writes as the descriptor takes; false
// when one fails or writes nothing.
bool writeAll(int descriptor, std::string_view bytes);

} // namespace platform::linux_files
