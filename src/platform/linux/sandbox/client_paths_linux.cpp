#include "platform/client_paths.h"
#include "platform/linux/kernel_tables/bounded_path_walk.h"
#include "platform/linux/kernel_tables/mount_info.h"
#include "platform/linux/sandbox/client_process_handle.h"
#include "platform/linux/sandbox/document_portal.h"
#include "platform/linux_platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <sstream>

namespace platform {

namespace {

using linux_files::OwnedDescriptor;
using linux_files::PathReference;
using Status = ClientPath::Status;

ClientPath asSent(const std::string& path) { return { Status::reached, path, path, nullptr, -1 }; }

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
std::optional<linux_files::MountEntry> mountOf(int descriptor, const procfs::ProcessDirectory* viewer)
{
    const auto id = mountIDOf(descriptor);
    // Through the viewer's held directory: its PID may have been given to
    // another process since.
    const auto table = viewer ? viewer->mountTable() : procfs::ProcessDirectory(getpid()).mountTable();
    if (!id || !table)
        return std::nullopt;
    std::istringstream lines(*table);
    for (auto& mount : linux_files::parseMountInfo(lines)) {
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

Status statusOf(const PathReference& reference)
{
    return linux_files::fileSystemDidNotAnswer(reference) ? Status::unreachable : Status::missing;
}

// A file opened here, answered for through our descriptor while the command
// runs, and given open to a program started for the client: no name is
// walked again, by us or by it.
ClientPath opened(OwnedDescriptor descriptor)
{
    auto file = std::make_shared<OwnedDescriptor>(std::move(descriptor));
    const auto path = descriptorPath(file->get());
    return { Status::reached, path, kPassedFilePath, file, file->get() };
}

class LinuxClientPaths final : public ClientPaths {
public:
    ClientPath reach(const ClientProcess& client, const std::string& path) const override
    {
        const bool sandboxed = client.sandbox != ClientProcess::Sandbox::none;
        if (!sandboxed && !mayBePortalPath(path))
            return asSent(path);
        // An ordinary client's program may look for a file we could not
        // reach where the client would; a sandbox's never gets a name.
        const auto notReached = [&](Status status) { return ClientPath { status, path, sandboxed ? std::nullopt : std::optional(path), nullptr, -1 }; };
        const auto* viewer = sandboxed && client.handle ? &client.handle->task() : nullptr;
        OwnedDescriptor root(viewer ? viewer->openRoot() : OwnedDescriptor());
        if (sandboxed && !root.isValid())
            return notReached(Status::missing);
        auto reference = linux_files::openPathReference(path, sandboxed ? root.get() : linux_files::kHostRoot);
        if (reference.status != PathReference::Status::opened)
            return notReached(statusOf(reference));
        const auto resolved = linkTarget(descriptorPath(reference.descriptor.get()));
        const auto document = resolved ? lentDocument(reference.descriptor.get(), viewer, *resolved) : std::nullopt;
        if (document)
            return hostFileOf(*document, path, sandboxed);
        if (!sandboxed)
            return asSent(path);
        // The sandbox's own files (its private /tmp) are reached through our
        // descriptor.
        return opened(std::move(reference.descriptor));
    }

private:
    std::optional<sandbox::PortalDocument> lentDocument(int descriptor, const procfs::ProcessDirectory* viewer, const std::string& resolved) const
    {
        const auto mount = mountOf(descriptor, viewer);
        if (!mount || mount->fileSystemType != sandbox::kDocumentPortalType)
            return std::nullopt;
        const auto inPortal = pathInPortal(*mount, resolved);
        return inPortal ? sandbox::portalDocumentAt(*inPortal) : std::nullopt;
    }

    // A folder lent whole is the client's only below it: a link inside that
    // leads out of it leads nowhere.
    ClientPath hostFileOf(const sandbox::PortalDocument& document, const std::string& path, bool sandboxed) const
    {
        const auto lent = sandbox::hostFileOf(m_sessionBus, document);
        if (!lent)
            return { Status::missing, path, sandboxed ? std::nullopt : std::optional(path), nullptr, -1 };
        auto hostFile = linux_files::openPathReference(lent->hostPath);
        if (hostFile.status == PathReference::Status::opened && !lent->below.empty())
            hostFile = linux_files::openPathReference(lent->below, hostFile.descriptor.get(), linux_files::Confinement::beneath);
        if (hostFile.status != PathReference::Status::opened)
            return { statusOf(hostFile), path, sandboxed ? std::nullopt : std::optional(path), nullptr, -1 };
        return opened(std::move(hostFile.descriptor));
    }

    mutable linux_dbus::BusConnection m_sessionBus { G_BUS_TYPE_SESSION };
};

} // namespace

std::unique_ptr<ClientPaths> makeClientPaths() { return std::make_unique<LinuxClientPaths>(); }

} // namespace platform
