#pragma once

#include <cstdint>

namespace platform::linux_files {

// Whether opening a file on a mount is answered by this machine alone.
// Network and FUSE file systems ask their server or daemon on every open,
// which may never answer; local ones do not. Unknown mounts count as not
// local.
bool opensWithoutServer(std::uint64_t mountID);

} // namespace platform::linux_files
