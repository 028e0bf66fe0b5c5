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

// The file an open descriptor (an O_PATH one too) refers to.
std::optional<FileIdentity> identityOfDescriptor(int descriptor);

// A path as a client sent it, walked within the bound of the bounded walk:
// its identity, or why there is none.
struct ClientPathIdentity {
    enum class Status { found,
        missing,
        unreachable };
    Status status { Status::missing };
    FileIdentity identity;
};
ClientPathIdentity identityOfClientPath(const std::string& path);

} // namespace platform::linux_files
