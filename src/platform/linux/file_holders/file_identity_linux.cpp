#include "platform/linux/file_holders/file_identity.h"
#include "platform/linux/kernel_tables/bounded_path_walk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace platform::linux_files {

namespace {

std::optional<FileIdentity> statxIdentity(int directoryFD, const char* name, int flags)
{
    struct statx status = {};
    flags |= AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC;
    if (statx(directoryFD, name, flags, STATX_TYPE | STATX_INO, &status) != 0)
        return std::nullopt;
    return FileIdentity {
        makedev(status.stx_dev_major, status.stx_dev_minor),
        static_cast<ino_t>(status.stx_ino),
        S_ISDIR(status.stx_mode),
    };
}

} // namespace

std::optional<FileIdentity> identityOf(int directoryFD, const std::string& name)
{
    // A C string ends at the first NUL: such a name would silently stand for
    // another file.
    if (name.find('\0') != std::string::npos)
        return std::nullopt;
    return statxIdentity(directoryFD, name.c_str(), 0);
}

std::optional<FileIdentity> identityOfDescriptor(int descriptor) { return statxIdentity(descriptor, "", AT_EMPTY_PATH); }

ClientPathIdentity identityOfClientPath(const std::string& path)
{
    using Status = ClientPathIdentity::Status;
    auto reference = openPathReference(path);
    if (fileSystemDidNotAnswer(reference))
        return { Status::unreachable, {} };
    // Once the walk is done the attributes come from the cache: asking the
    // server again could wait on it after all.
    auto identity = reference.descriptor.isValid() ? identityOfDescriptor(reference.descriptor.get()) : std::nullopt;
    if (!identity)
        return { Status::missing, {} };
    return { Status::found, *identity };
}

} // namespace platform::linux_files
