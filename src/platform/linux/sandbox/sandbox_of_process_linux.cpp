#include "platform/linux/sandbox/sandbox_of_process.h"

#include "platform/linux/common/gobject_ptr.h"
#include "platform/linux/common/retrying_io.h"
#include "platform/linux/kernel_tables/bounded_path_walk.h"
#include "platform/linux/sandbox/sandbox_groups.h"
#include "platform/linux/kernel_tables/mount_info.h"

#include <fcntl.h>
#include <glib.h>
#include <linux/magic.h>
#include <sys/stat.h>

#include <fstream>
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
// mount table: statfs would ask the file system itself, and a FUSE server
// that never answers would hold us.
std::optional<std::string> fileSystemTypeOf(const ProcessDirectory& process, std::uint64_t mountID)
{
    std::ifstream table("/proc/" + std::to_string(process.id()) + "/mountinfo");
    for (const auto& mount : linux_files::parseMountInfo(table)) {
        if (mount.mountID == mountID)
            return mount.fileSystemType;
    }
    return std::nullopt;
}

// `path` in the root of `process`: only a regular file counts, links are
// followed only inside that root, and a file system that does not answer
// costs no more than any client path's walk.
std::optional<OwnedDescriptor> findRegularFile(const ProcessDirectory& process, const char* path, bool& untrustworthy)
{
    const auto root = process.openRoot();
    if (!root.isValid())
        return std::nullopt;
    auto reference = linux_files::openPathReference(path, root.get());
    if (reference.status != linux_files::PathReference::Status::opened) {
        const bool missing = reference.status == linux_files::PathReference::Status::failed && (reference.error == ENOENT || reference.error == ENOTDIR);
        untrustworthy = !missing;
        return std::nullopt;
    }
    struct statx status = {};
    if (!linux_files::cachedAttributes(reference.descriptor.get(), STATX_TYPE, status) || !S_ISREG(status.stx_mode)) {
        untrustworthy = true;
        return std::nullopt;
    }
    return std::move(reference.descriptor);
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

bool hasRegularFile(const ProcessDirectory& process, const char* path)
{
    bool untrustworthy = false;
    return findRegularFile(process, path, untrustworthy).has_value();
}

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
    bool untrustworthy = false;
    const auto reference = findRegularFile(process, ".flatpak-info", untrustworthy);
    if (!reference)
        return { untrustworthy ? State::untrustworthy : State::absent, {} };
    auto text = readInMemoryFile(process, *reference);
    if (!text)
        return { State::untrustworthy, {} };
    return { State::read, std::move(*text) };
}

std::optional<std::string> applicationIdIn(const std::string& flatpakInfo)
{
    linux_gio::GKeyFilePtr keys(g_key_file_new());
    if (!g_key_file_load_from_data(keys.get(), flatpakInfo.data(), flatpakInfo.size(), G_KEY_FILE_NONE, nullptr))
        return std::nullopt;
    linux_gio::GTextPtr name(g_key_file_get_string(keys.get(), "Application", "name", nullptr));
    if (!name || !*name.get())
        return std::nullopt;
    return std::string(name.get());
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

std::optional<std::string> snapNameInControlGroups(std::string_view controlGroups)
{
    // Each line is "ID:CONTROLLERS:PATH".
    while (!controlGroups.empty()) {
        const auto end = std::min(controlGroups.find('\n'), controlGroups.size());
        const auto line = controlGroups.substr(0, end);
        controlGroups.remove_prefix(std::min(end + 1, controlGroups.size()));
        const auto colon = line.find(':', line.find(':') + 1);
        if (colon == std::string_view::npos)
            continue;
        const auto sandbox = sandboxOfGroup(line.substr(colon + 1));
        if (sandbox && sandbox->kind == GroupSandbox::Kind::snap)
            return sandbox->id;
    }
    return std::nullopt;
}

} // namespace platform::sandbox
