#include "platform/file_manager.h"
#include "platform/linux/file_identity.h"
#include "platform/linux_platform.h"

#include <fcntl.h>

namespace platform {
namespace {

class LinuxFileManager final : public FileManager {
public:
    PathKind kindOfPath(const std::string& path) const override
    {
        auto identity = linux_files::identityOf(AT_FDCWD, path);
        if (!identity)
            return PathKind::Missing;
        return identity->isDirectory ? PathKind::Directory : PathKind::NotDirectory;
    }
};

} // namespace

std::unique_ptr<FileManager> makeFileManager() { return std::make_unique<LinuxFileManager>(); }

} // namespace platform
