#include "platform/linux/kernel_tables/proc_entries.h"
#include "platform/linux/kernel_tables/process_directory.h"
#include "platform/linux/volumes/sshfs_arguments.h"
#include "platform/linux/volumes/sshfs_processes.h"

#include <fcntl.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <string_view>
#include <vector>

namespace platform::linux_files {
namespace {

namespace fs = std::filesystem;

// FUSE records who mounted it as "user_id=N" among the super options.
std::optional<uid_t> fuseOwner(std::string_view superOptions)
{
    constexpr std::string_view kKey = "user_id=";
    for (std::size_t start = 0; start < superOptions.size();) {
        auto end = std::min(superOptions.find(',', start), superOptions.size());
        auto option = superOptions.substr(start, end - start);
        uid_t owner = 0;
        if (option.starts_with(kKey)) {
            auto [last, error] = std::from_chars(option.data() + kKey.size(), option.data() + option.size(), owner);
            if (error == std::errc() && last == option.data() + option.size())
                return owner;
        }
        start = end + 1;
    }
    return std::nullopt;
}

// /proc/PID/cmdline and /proc/PID/environ: words ended by NUL bytes.
// Nothing when the process has gone or may not be read.
std::vector<std::string> nulSeparatedEntry(const std::string& process, const char* entry)
{
    // Above what a program is normally started with (a quarter of an 8 MiB
    // stack, by default).
    constexpr std::size_t kMostBytes = 4 * 1024 * 1024;
    const auto text = procfs::readEntryAt(AT_FDCWD, ("/proc/" + process + "/" + entry).c_str(), kMostBytes);
    const std::string_view contents = text ? std::string_view(*text) : std::string_view();
    std::vector<std::string> words;
    for (std::size_t start = 0; start < contents.size();) {
        auto end = std::min(contents.find('\0', start), contents.size());
        words.emplace_back(contents.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

// sshfs resolves a relative mount point against the folder it was started
// in, then moves to "/" as it settles in the background; the shell that
// started it left that folder in PWD. Paths are joined by text only:
// resolving links would touch the mount, which hangs while its server is gone.
std::string mountPointSeenBy(const std::string& process, const std::string& given)
{
    fs::path path = given;
    if (path.is_relative()) {
        auto environment = nulSeparatedEntry(process, "environ");
        auto folder = std::ranges::find_if(environment, [](auto const& word) { return word.starts_with("PWD=/"); });
        if (folder == environment.end())
            return {};
        path = fs::path(folder->substr(4)) / path;
    }
    auto normal = path.lexically_normal().string();
    if (normal.size() > 1 && normal.ends_with('/'))
        normal.pop_back();
    return normal;
}

// The arguments of `process` when it is an sshfs serving `mount`.
std::optional<SshfsArguments> argumentsServing(pid_t process, const MountEntry& mount)
{
    auto name = std::to_string(process);
    auto commandLine = nulSeparatedEntry(name, "cmdline");
    if (commandLine.empty() || fs::path(commandLine.front()).filename() != "sshfs")
        return std::nullopt;
    auto arguments = sshfsArgumentsFrom({ commandLine.begin() + 1, commandLine.end() });
    if (!arguments || arguments->source != mount.source || mountPointSeenBy(name, arguments->mountPoint) != mount.mountPoint)
        return std::nullopt;
    return arguments;
}

} // namespace

std::optional<int> sshfsPortServing(const MountEntry& mount)
{
    auto owner = fuseOwner(mount.superOptions);
    if (mount.fileSystemType != "fuse.sshfs" || !owner)
        return std::nullopt;
    for (pid_t process : procfs::listedProcessIDs()) {
        // Another user's process could claim any mount point; only the
        // owner's own sshfs speaks for the mount.
        if (!procfs::realUserID(process).holds(*owner))
            continue;
        if (auto arguments = argumentsServing(process, mount))
            return arguments->port;
    }
    return std::nullopt;
}

} // namespace platform::linux_files
