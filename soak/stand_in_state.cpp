#include "soak/stand_in_state.h"

#include "support/text_files.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace soak {

std::string processState(pid_t pid)
{
    const auto stat = testing_support::readTextFile("/proc/" + std::to_string(pid) + "/stat");
    // The state follows the command name, which is in parentheses.
    const auto nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos || nameEnd + 2 >= stat.size())
        return "gone";
    switch (stat[nameEnd + 2]) {
    case 'Z':
    case 'X':
        return "ended";
    case 'T':
    case 't':
        return "stopped";
    default:
        return "running";
    }
}

bool isRunning(pid_t pid)
{
    const auto state = processState(pid);
    return state == "running" || state == "stopped";
}

namespace {

std::string unknownBecause(int error) { return std::string("unknown (") + std::strerror(error) + ")"; }

std::string inodeOf(int directory, const char* name, int flags)
{
    struct statx status = {};
    if (statx(directory, name, flags | AT_STATX_DONT_SYNC, STATX_INO, &status) != 0)
        return unknownBecause(errno);
    return std::to_string(status.stx_ino);
}

} // namespace

std::string cachedInode(const std::filesystem::path& path)
{
    open_how how {};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_CACHED;
    const int descriptor = static_cast<int>(syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how));
    if (descriptor < 0)
        return unknownBecause(errno);
    auto inode = inodeOf(descriptor, "", AT_EMPTY_PATH);
    close(descriptor);
    return inode;
}

// Following the link asks no file system: it leads to the open file itself.
std::string heldInode(const std::filesystem::path& descriptor) { return inodeOf(AT_FDCWD, descriptor.c_str(), 0); }

std::filesystem::path descriptorNamed(pid_t pid, const std::string& name)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        if (!error && target.filename() == name)
            return entry.path();
    }
    return {};
}

} // namespace soak
