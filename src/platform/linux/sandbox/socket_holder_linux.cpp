#include "platform/linux/sandbox/socket_holder.h"

#include "platform/linux/processes/proc_entries.h"
#include "platform/linux/sandbox/sandbox_of_process.h"

#include <dirent.h>
#include <unistd.h>

#include <array>
#include <string>

namespace platform::sandbox {

namespace {

bool holdsSocket(pid_t process, const std::string& socketLink)
{
    const std::string folder = "/proc/" + std::to_string(process) + "/fd";
    DIR* descriptors = opendir(folder.c_str());
    if (!descriptors)
        return false;
    bool found = false;
    std::array<char, 64> target {};
    while (const dirent* entry = readdir(descriptors)) {
        const auto length = readlinkat(dirfd(descriptors), entry->d_name, target.data(), target.size());
        if (length > 0 && std::string_view(target.data(), static_cast<std::size_t>(length)) == socketLink) {
            found = true;
            break;
        }
    }
    closedir(descriptors);
    return found;
}

} // namespace

std::optional<pid_t> sandboxedHolderOfSocket(std::uint64_t socketInode)
{
    const std::string socketLink = "socket:[" + std::to_string(socketInode) + "]";
    const uid_t user = getuid();
    for (const pid_t process : procfs::listedProcessIDs()) {
        if (process == getpid() || !inOtherMountNamespace(process) || procfs::realUserID(process) != user)
            continue;
        if (holdsSocket(process, socketLink))
            return process;
    }
    return std::nullopt;
}

} // namespace platform::sandbox
