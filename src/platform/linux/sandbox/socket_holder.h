#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

namespace platform::sandbox {

// A process of the user in another mount namespace than ours that holds the
// socket with inode `socketInode`. Only those processes are searched: a
// client in our own namespace needs no more than its owner, and there are few
// sandboxed processes beside the many of a desktop session.
std::optional<pid_t> sandboxedHolderOfSocket(std::uint64_t socketInode);

} // namespace platform::sandbox
