#pragma once

// Whether anyone but us has a regular file open, in one step: the kernel
// grants a write lease only when no other open file of that inode exists
// anywhere on the system, whoever opened or mapped it. References opened
// with O_PATH do not count: they can neither read nor write.

namespace platform::linux_files {

enum class OtherOpens { none,
    some,
    cannotTell };

// `pathReference` is an O_PATH descriptor of a regular file on a file
// system that opens files without asking a server.
OtherOpens probeOtherOpens(int pathReference);

} // namespace platform::linux_files
