#pragma once

// The sshfs process that serves a mount, found among the running processes,
// and what it was told that the mount table does not keep.

#include "platform/linux/kernel_tables/mount_info.h"

#include <optional>

namespace platform::linux_files {

// The port given to the sshfs process of `mount`: one of the mount's own
// user (FUSE's user_id) whose command line names the mount's source and
// mount point. Nothing for other mounts, when no such process can be seen,
// or when it was given no port.
std::optional<int> sshfsPortServing(const MountEntry& mount);

} // namespace platform::linux_files
