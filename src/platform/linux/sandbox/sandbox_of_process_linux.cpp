#include "platform/linux/sandbox/sandbox_of_process.h"

#include "platform/linux/common/retrying_io.h"
#include "platform/linux/kernel_tables/bounded_path_walk.h"
#include "platform/linux/kernel_tables/mount_info.h"
#include "platform/linux/sandbox/flatpak_info.h"
#include "platform/linux/sandbox/sandbox_groups.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>

#include <sstream>
#include <vector>

namespace platform::sandbox {

namespace {

using linux_files::OwnedDescriptor;
using State = SandboxFile::State;

// Flatpak's is a few hundred bytes.
constexpr std::size_t kMostSandboxFileBytes = 64 * 1024;

std::optional<ino_t> ourMountNamespace()
{
    struct stat status = {};
    if (stat("/proc/self/ns/mnt", &status) != 0)
        return std::nullopt;
    return status.st_ino;
}

// The type of the file system a file of `process`'s view lies on, from its
// mount table, read through the process's own directory so that it is the
// same process's: statfs would ask the file system itself, and a FUSE server
// that never answers would hold us.
std::optional<std::string> fileSystemTypeOf(const ProcessDirectory& process, std::uint64_t mountID)
{
    const auto table = process.mountTable();
    if (!table)
        return std::nullopt;
    std::istringstream lines(*table);
    for (const auto& mount : linux_files::parseMountInfo(lines)) {
        if (mount.mountID == mountID)
            return mount.fileSystemType;
    }
    return std::nullopt;
}

// A file looked for in a sandbox's root.
struct FoundFile {
    enum class State {
        found,
        absent,
        // Something stands there that is not a regular file, or the walk
        // to it did not end in time.
        notARegularFile,
        // The root itself could not be opened: the process has gone, or
        // we may not enter it.
        rootUnreachable,
    };
    State state { State::absent };
    OwnedDescriptor reference;
};

// `path` in the root of `process`: only a regular file counts, links are
// followed only inside that root, and a file system that does not answer
// costs no more than any client path's walk.
FoundFile findRegularFile(const ProcessDirectory& process, const char* path)
{
    using FileState = FoundFile::State;
    const auto root = process.openRoot();
    if (!root.isValid())
        return { FileState::rootUnreachable, OwnedDescriptor() };
    auto reference = linux_files::openPathReference(path, root.get());
    if (reference.status != linux_files::PathReference::Status::opened) {
        const bool missing = reference.status == linux_files::PathReference::Status::failed && (reference.error == ENOENT || reference.error == ENOTDIR);
        return { missing ? FileState::absent : FileState::notARegularFile, OwnedDescriptor() };
    }
    struct statx status = {};
    if (!linux_files::cachedAttributes(reference.descriptor.get(), STATX_TYPE, status) || !S_ISREG(status.stx_mode))
        return { FileState::notARegularFile, OwnedDescriptor() };
    return { FileState::found, std::move(reference.descriptor) };
}

std::optional<std::string> readInMemoryFile(const ProcessDirectory& process, const OwnedDescriptor& reference)
{
    struct statx status = {};
    if (!linux_files::cachedAttributes(reference.get(), STATX_SIZE | STATX_MNT_ID, status) || !(status.stx_mask & STATX_MNT_ID)
        || status.stx_size > kMostSandboxFileBytes || fileSystemTypeOf(process, status.stx_mnt_id) != "tmpfs")
        return std::nullopt;
    OwnedDescriptor file(open(("/proc/self/fd/" + std::to_string(reference.get())).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.isValid())
        return std::nullopt;
    std::string text(kMostSandboxFileBytes + 1, '\0');
    std::size_t held = 0;
    for (;;) {
        const auto count = linux_files::readRetryingInterrupts(file.get(), text.data() + held, text.size() - held);
        if (count < 0)
            return std::nullopt;
        if (count == 0)
            break;
        held += static_cast<std::size_t>(count);
        if (held == text.size())
            return std::nullopt; // grew past its size since
    }
    text.resize(held);
    return text;
}

bool hasRegularFile(const ProcessDirectory& process, const char* path) { return findRegularFile(process, path).state == FoundFile::State::found; }

} // namespace

bool inOtherMountNamespace(const ProcessDirectory& process)
{
    static const auto ours = ourMountNamespace();
    const auto theirs = process.mountNamespace();
    return ours && theirs && *ours != *theirs;
}

bool inOtherMountNamespace(pid_t process) { return inOtherMountNamespace(ProcessDirectory(process)); }

SandboxFile flatpakInfoOf(const ProcessDirectory& process)
{
    using FileState = FoundFile::State;
    const auto found = findRegularFile(process, ".flatpak-info");
    switch (found.state) {
    case FileState::absent:
        return { State::absent, {} };
    case FileState::notARegularFile:
        return { State::untrustworthy, {} };
    case FileState::rootUnreachable:
        return { State::rootUnreachable, {} };
    case FileState::found:
        break;
    }
    auto text = readInMemoryFile(process, found.reference);
    if (!text)
        return { State::untrustworthy, {} };
    return { State::read, std::move(*text) };
}

std::optional<std::string> flatpakApplicationId(pid_t process)
{
    const auto info = flatpakInfoOf(ProcessDirectory(process));
    return info.state == State::read ? applicationIdIn(info.text) : std::nullopt;
}

ClientProcess identityOf(const ProcessDirectory& process)
{
    using Sandbox = ClientProcess::Sandbox;
    const auto info = flatpakInfoOf(process);
    if (info.state == State::read) {
        if (auto id = applicationIdIn(info.text))
            return { Sandbox::flatpak, process.id(), std::move(*id), nullptr };
    }
    if (info.state != State::absent)
        return { Sandbox::unidentified, process.id(), {}, nullptr };
    const auto group = process.controlGroup();
    const auto groupSandbox = group ? sandboxOfGroup(*group) : std::nullopt;
    if (groupSandbox && groupSandbox->kind == GroupSandbox::Kind::snap)
        return { Sandbox::snap, process.id(), groupSandbox->id, nullptr };
    if (hasRegularFile(process, "run/.containerenv"))
        return { Sandbox::container, process.id(), {}, nullptr };
    return { Sandbox::unidentified, process.id(), {}, nullptr };
}

} // namespace platform::sandbox
