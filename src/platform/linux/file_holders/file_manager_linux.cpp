#include "platform/file_manager.h"
#include "platform/linux/file_holders/file_identity.h"
#include "platform/linux_platform.h"

namespace platform {
namespace {

class LinuxFileManager final : public FileManager {
public:
    PathKind kindOfPath(const std::string& path) const override
    {
        using Status = linux_files::ClientPathIdentity::Status;
        auto examined = linux_files::identityOfClientPath(path);
        if (examined.status != Status::found)
            return examined.status == Status::unreachable ? PathKind::Unreachable : PathKind::Missing;
        return examined.identity.isDirectory ? PathKind::Directory : PathKind::NotDirectory;
    }
};

} // namespace

std::unique_ptr<FileManager> makeFileManager() { return std::make_unique<LinuxFileManager>(); }

} // namespace platform
