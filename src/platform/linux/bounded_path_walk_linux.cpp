#include "platform/linux/bounded_path_walk.h"

#include <fcntl.h>

#include <cerrno>

namespace platform::linux_files {

PathReference openPathReference(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        return { PathReference::Status::failed, OwnedDescriptor(), EINVAL };
    OwnedDescriptor descriptor(open(path.c_str(), O_PATH | O_CLOEXEC));
    if (!descriptor.isValid())
        return { PathReference::Status::failed, OwnedDescriptor(), errno };
    return { PathReference::Status::opened, std::move(descriptor), 0 };
}

} // namespace platform::linux_files
