#include "platform/linux/common/retrying_io.h"

#include <unistd.h>

namespace platform::linux_files {

ssize_t readRetryingInterrupts(int descriptor, void* into, std::size_t length)
{
    return retryingInterrupts([&] { return ::read(descriptor, into, length); });
}

bool writeAll(int descriptor, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = retryingInterrupts([&] { return ::write(descriptor, bytes.data(), bytes.size()); });
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace platform::linux_files
