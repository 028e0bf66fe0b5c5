// GVfs folder names as a FUSE directory listing shows them.
#include "platform/linux/volumes/gvfs_mount_folder.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    (void)platform::linux_files::urlOfGVfsMountFolder(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
