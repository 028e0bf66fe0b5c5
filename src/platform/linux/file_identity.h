#pragma once

// The identity of a file as the kernel sees it, asked in a way that cannot
// hang: no automount is triggered and network file systems answer from
// their cache instead of asking an unreachable server.

#include <sys/types.h>

#include <optional>
#include <string>

namespace platform::linux_files {

struct FileIdentity {
    dev_t device { 0 };
    ino_t inode { 0 };
    bool isDirectory { false };
    bool operator==(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
};

// `name` relative to the directory `directoryFD` (AT_FDCWD for the working
// directory), symbolic links followed. Nothing when it cannot be examined or
// holds a NUL byte.
std::optional<FileIdentity> identityOf(int directoryFD, const std::string& name);

} // namespace platform::linux_files
