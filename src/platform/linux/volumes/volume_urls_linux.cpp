#include "platform/linux/common/owned_descriptor.h"
#include "platform/linux/kernel_tables/bounded_path_walk.h"
#include "platform/linux/kernel_tables/mount_info.h"
#include "platform/linux/volumes/sshfs_processes.h"
#include "platform/linux/volumes/volume_url.h"
#include "platform/linux_platform.h"
#include "platform/volume_urls.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>

namespace platform {
namespace {

using linux_files::MountedFile;
using linux_files::OwnedDescriptor;

// The file is opened as a bare reference, so its mount, device and real path
// all belong to the same object even while links around it change. The walk
// is bounded and the attributes come from the cache, so a silent network
// mount holds the helper up only for the bound.
std::optional<MountedFile> examine(const std::string& path)
{
    if (path.empty())
        return std::nullopt;
    auto reference = linux_files::openPathReference(path);
    if (reference.status != linux_files::PathReference::Status::opened)
        return std::nullopt;
    auto const& file = reference.descriptor;
    struct statx status = {};
    if (!linux_files::cachedAttributes(file.get(), STATX_INO | STATX_MNT_ID, status))
        return std::nullopt;
    char target[PATH_MAX];
    auto link = "/proc/self/fd/" + std::to_string(file.get());
    auto length = readlink(link.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target)
        return std::nullopt;
    MountedFile mounted;
    if (status.stx_mask & STATX_MNT_ID)
        mounted.mountID = status.stx_mnt_id;
    mounted.device = makedev(status.stx_dev_major, status.stx_dev_minor);
    mounted.canonicalPath.assign(target, static_cast<std::size_t>(length));
    return mounted;
}

class LinuxVolumeURLs final : public VolumeURLs {
public:
    std::optional<std::string> urlOfVolumeHolding(const std::string& path) const override
    {
        auto file = examine(path);
        if (!file)
            return std::nullopt;
        std::ifstream table("/proc/self/mountinfo");
        auto mounts = linux_files::parseMountInfo(table);
        auto const* mount = linux_files::mountHolding(mounts, *file);
        if (!mount)
            return std::nullopt;
        return linux_files::volumeURL(*mount, file->canonicalPath, linux_files::sshfsPortServing(*mount));
    }
};

} // namespace

std::unique_ptr<VolumeURLs> makeVolumeURLs() { return std::make_unique<LinuxVolumeURLs>(); }

} // namespace platform
