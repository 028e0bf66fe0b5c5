#pragma once

// Reading /proc/PID/maps: which files a process has mapped into memory.

#include <sys/types.h>

#include <string_view>

namespace platform::linux_files {

// Whether a maps text has a line for the file with this device and inode.
// Lines are "start-end perms offset major:minor inode [path]", device numbers
// in hexadecimal; anonymous mappings carry inode 0 and never match.
bool mapsMentionFile(std::string_view mapsText, dev_t device, ino_t inode);

} // namespace platform::linux_files
