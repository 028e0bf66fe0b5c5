#include "platform/linux/file_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace platform::linux_files {

std::optional<FileIdentity> identityOf(int directoryFD, const std::string& name)
{
    // A C string ends at the first NUL: such a name would silently stand for
    // another file.
    if (name.find('\0') != std::string::npos)
        return std::nullopt;
    struct statx status {};
    constexpr int flags = AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC;
    if (statx(directoryFD, name.c_str(), flags, STATX_TYPE | STATX_INO, &status) != 0)
        return std::nullopt;
    return FileIdentity {
        makedev(status.stx_dev_major, status.stx_dev_minor),
        static_cast<ino_t>(status.stx_ino),
        S_ISDIR(status.stx_mode),
    };
}

} // namespace platform::linux_files
