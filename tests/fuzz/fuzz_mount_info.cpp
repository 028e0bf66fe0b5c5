// mountinfo text from the kernel, or whatever a FUSE file system managed to
// put into its fields, and the search for the mount that holds a file.
#include "platform/linux/kernel_tables/mount_info.h"

#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
    auto mounts = platform::linux_files::parseMountInfo(input);
    platform::linux_files::MountedFile file { std::nullopt, 0x801, "/home/user/Downloads/a file" };
    (void)platform::linux_files::mountHolding(mounts, file);
    file.mountID = 29;
    (void)platform::linux_files::mountHolding(mounts, file);
    for (auto const& mount : mounts)
        (void)platform::linux_files::pathIsWithin(file.canonicalPath, mount.mountPoint);
    return 0;
}
