#pragma once

// What a stand-in process or file is like now, told without waiting on any
// file system: for explaining an answer that did not match the truth.

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace soak {

// "running", "stopped", "ended" (not yet reaped) or "gone".
std::string processState(pid_t pid);

// True while the process is there and has not ended.
bool isRunning(pid_t pid);

// The inode number `path` leads to as far as the kernel's caches know it,
// or why that is not known.
std::string cachedInode(const std::filesystem::path& path);
// The inode number of what /proc/PID/fd/N holds, from the cache alone.
std::string heldInode(const std::filesystem::path& descriptor);

// /proc/PID/fd/N of the process's descriptor of a file named `name`, or
// empty where it holds none.
std::filesystem::path descriptorNamed(pid_t pid, const std::string& name);

} // namespace soak
