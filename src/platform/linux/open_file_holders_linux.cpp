#include "platform/linux/file_identity.h"
#include "platform/linux/memory_maps.h"
#include "platform/linux/owned_descriptor.h"
#include "platform/linux/proc_entries.h"
#include "platform/linux_platform.h"
#include "platform/open_file_holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace platform {
namespace {

using linux_files::FileIdentity;
using linux_files::OwnedDescriptor;

// Calls `entry` with the name of every entry of an open directory, until it
// answers true; whether one did, or nothing when the directory cannot be
// read. The directory descriptor is consumed.
template<typename Visit>
std::optional<bool> anyDirectoryEntry(OwnedDescriptor directoryFD, Visit entry)
{
    DIR* directory = fdopendir(directoryFD.get());
    if (!directory)
        return std::nullopt;
    directoryFD.release();
    bool found = false;
    while (!found) {
        const dirent* next = readdir(directory);
        if (!next)
            break;
        found = entry(next->d_name);
    }
    closedir(directory);
    return found;
}

OwnedDescriptor openBelow(int directoryFD, const std::string& name, int flags)
{
    return OwnedDescriptor(openat(directoryFD, name.c_str(), flags | O_RDONLY | O_CLOEXEC));
}

// /proc/PID/fd holds one link per open descriptor; stat follows it to the
// open file itself, even a deleted or renamed one.
bool hasOpenDescriptor(int procFD, const std::string& pid, const FileIdentity& file)
{
    auto descriptors = openBelow(procFD, pid + "/fd", O_DIRECTORY);
    if (!descriptors.isValid())
        return false;
    int descriptorsFD = descriptors.get();
    auto found = anyDirectoryEntry(std::move(descriptors), [&](const char* name) {
        if (name[0] == '.')
            return false;
        auto identity = linux_files::identityOf(descriptorsFD, name);
        return identity && *identity == file;
    });
    return found.value_or(false);
}

bool hasMemoryMapping(int procFD, const std::string& pid, const FileIdentity& file)
{
    auto maps = openBelow(procFD, pid + "/maps", 0);
    if (!maps.isValid())
        return false;
    // Read whole: a mapping line split between two reads would be misread.
    thread_local std::string text;
    text.clear();
    char chunk[16384];
    for (;;) {
        ssize_t count = read(maps.get(), chunk, sizeof chunk);
        if (count <= 0)
            break;
        text.append(chunk, static_cast<std::size_t>(count));
    }
    return linux_files::mapsMentionFile(text, file.device, file.inode);
}

class ProcOpenFileHolders final : public OpenFileHolders {
public:
    bool forEachHolder(const std::string& path, const std::function<Scan(ProcessID)>& holder) const override
    {
        auto file = linux_files::identityOf(AT_FDCWD, path);
        if (!file)
            return false;
        auto proc = OwnedDescriptor(open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!proc.isValid())
            return false;
        int procFD = proc.get();
        // Processes we may not look into (other users', protected ones) are
        // passed over: they are not ours to report.
        auto scanned = anyDirectoryEntry(std::move(proc), [&](const char* name) {
            auto pid = procfs::processIDFromText(name);
            if (!pid)
                return false;
            std::string pidText(name);
            if (!hasOpenDescriptor(procFD, pidText, *file) && !hasMemoryMapping(procFD, pidText, *file))
                return false;
            return holder(*pid) == Scan::Stop;
        });
        return scanned.has_value();
    }
};

} // namespace

std::unique_ptr<OpenFileHolders> makeOpenFileHolders() { return std::make_unique<ProcOpenFileHolders>(); }

} // namespace platform
