#include "platform/client_paths.h"
#include "platform/linux/file_holders/bounded_path_walk.h"
#include "platform/linux/sandbox/document_portal.h"
#include "platform/linux/volumes/mount_info.h"
#include "platform/linux_platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>

namespace platform {

namespace {

using linux_files::OwnedDescriptor;
using Status = ClientPath::Status;

ClientPath asSent(const std::string& path) { return { Status::reached, path, path, nullptr }; }
ClientPath notReached(Status status, const std::string& path, const std::string& forPrograms) { return { status, path, forPrograms, nullptr }; }

std::string runtimeFolder()
{
    const char* folder = std::getenv("XDG_RUNTIME_DIR");
    return folder && *folder == '/' ? folder : "/run/user/" + std::to_string(getuid());
}

// Only a path into the portal's folder needs more than the path itself: the
// operations walk every other one on their own.
bool mayBePortalPath(const std::string& path)
{
    return linux_files::pathIsWithin(path, runtimeFolder() + "/doc") || linux_files::pathIsWithin(path, "/run/user/" + std::to_string(getuid()) + "/doc");
}

std::string descriptorPath(int descriptor) { return "/proc/self/fd/" + std::to_string(descriptor); }

std::optional<std::string> linkTarget(const std::string& link)
{
    std::array<char, 4096> target {};
    const auto length = readlink(link.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size())
        return std::nullopt;
    return std::string(target.data(), static_cast<std::size_t>(length));
}

// Asks the kernel only, as every other mount lookup of ours does.
std::optional<std::uint64_t> mountIDOf(int descriptor)
{
    struct statx status = {};
    if (!linux_files::cachedAttributes(descriptor, STATX_MNT_ID, status) || !(status.stx_mask & STATX_MNT_ID))
        return std::nullopt;
    return status.stx_mnt_id;
}

// The mount an opened file lies on, from the table of the process whose view
// it was opened in (mount ids are the same in every table).
std::optional<linux_files::MountEntry> mountOf(int descriptor, ProcessID viewer)
{
    const auto id = mountIDOf(descriptor);
    std::ifstream table(viewer ? "/proc/" + std::to_string(viewer) + "/mountinfo" : "/proc/self/mountinfo");
    if (!id || !table)
        return std::nullopt;
    for (auto& mount : linux_files::parseMountInfo(table)) {
        if (mount.mountID == *id)
            return std::move(mount);
    }
    return std::nullopt;
}

// The path below the portal's root of an opened file on a portal mount.
std::optional<std::string> pathInPortal(const linux_files::MountEntry& mount, const std::string& resolved)
{
    if (!linux_files::pathIsWithin(resolved, mount.mountPoint))
        return std::nullopt;
    const auto below = resolved.substr(mount.mountPoint == "/" ? 0 : mount.mountPoint.size());
    return (mount.root == "/" ? "" : mount.root) + below;
}

class LinuxClientPaths final : public ClientPaths {
public:
    ClientPath reach(const ClientProcess& client, const std::string& path) const override
    {
        const bool sandboxed = client.sandbox != ClientProcess::Sandbox::none;
        if (!sandboxed && !mayBePortalPath(path))
            return asSent(path);
        const auto rootLink = "/proc/" + std::to_string(client.process) + "/root";
        // A program we start for the client looks for a file it cannot reach
        // where the client would.
        const auto forPrograms = sandboxed ? rootLink + (path.starts_with('/') ? path : "/" + path) : path;
        OwnedDescriptor root(sandboxed ? open(rootLink.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC) : -1);
        if (sandboxed && !root.isValid())
            return notReached(Status::missing, path, forPrograms);
        auto reference = linux_files::openPathReference(path, sandboxed ? root.get() : linux_files::kHostRoot);
        if (reference.status == linux_files::PathReference::Status::timedOut)
            return notReached(Status::unreachable, path, forPrograms);
        if (reference.status != linux_files::PathReference::Status::opened)
            return notReached(Status::missing, path, forPrograms);
        auto file = std::make_shared<OwnedDescriptor>(std::move(reference.descriptor));
        const auto resolved = linkTarget(descriptorPath(file->get()));
        if (auto lent = resolved ? lentHostFile(file->get(), sandboxed ? client.process : 0, *resolved) : std::nullopt)
            return asSent(*lent);
        if (!sandboxed)
            return asSent(path);
        // The sandbox's own files (its private /tmp) are reached through our
        // descriptor while we answer, and through its root by a program we start.
        return { Status::reached, descriptorPath(file->get()), rootLink + resolved.value_or(path), file };
    }

private:
    std::optional<std::string> lentHostFile(int descriptor, ProcessID viewer, const std::string& resolved) const
    {
        const auto mount = mountOf(descriptor, viewer);
        if (!mount || mount->fileSystemType != sandbox::kDocumentPortalType)
            return std::nullopt;
        const auto inPortal = pathInPortal(*mount, resolved);
        const auto document = inPortal ? sandbox::portalDocumentAt(*inPortal) : std::nullopt;
        return document ? sandbox::hostPathOf(m_sessionBus, *document) : std::nullopt;
    }

    mutable linux_dbus::BusConnection m_sessionBus { G_BUS_TYPE_SESSION };
};

} // namespace

std::unique_ptr<ClientPaths> makeClientPaths() { return std::make_unique<LinuxClientPaths>(); }

} // namespace platform
