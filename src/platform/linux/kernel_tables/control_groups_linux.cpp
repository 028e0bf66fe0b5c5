#include "platform/linux/kernel_tables/control_groups.h"

#include "platform/linux/kernel_tables/mount_info.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace platform::cgroups {

namespace {

// A desktop has a few hundred groups; a walk that finds more stops there,
// so that no one can make every lookup slow by making groups.
constexpr std::size_t kMostGroups = 20000;
// Ids of groups that have gone, kept so that connections made in one cost
// no walk each; past this many the oldest knowledge is dropped, which costs
// a walk, never a wrong answer.
constexpr std::size_t kMostGoneGroups = 4096;

std::optional<pid_t> processIDIn(std::string_view line)
{
    pid_t pid = 0;
    for (char digit : line) {
        if (digit < '0' || digit > '9')
            return std::nullopt;
        pid = pid * 10 + (digit - '0');
    }
    return line.empty() ? std::nullopt : std::optional<pid_t>(pid);
}

} // namespace

std::optional<std::string> unifiedHierarchyIn(std::string_view mountInfo)
{
    std::istringstream table { std::string(mountInfo) };
    for (const auto& mount : linux_files::parseMountInfo(table)) {
        if (mount.fileSystemType == "cgroup2")
            return mount.mountPoint;
    }
    return std::nullopt;
}

ControlGroups::ControlGroups()
{
    std::ifstream table("/proc/self/mountinfo");
    std::ostringstream text;
    text << table.rdbuf();
    m_mountPoint = unifiedHierarchyIn(text.str()).value_or("");
}

ControlGroups::Name ControlGroups::known(std::uint64_t id) const
{
    std::lock_guard lock(m_lock);
    if (auto found = m_paths.find(id); found != m_paths.end())
        return { Name::State::named, found->second };
    if (m_gone.contains(id))
        return { Name::State::gone, {} };
    return {};
}

ControlGroups::Name ControlGroups::learn(std::uint64_t id, Deadline deadline)
{
    if (auto name = known(id); name.state != Name::State::unknown || !available() || id == 0)
        return name;
    // Walked without the lock: a lookup of a known group never waits for it.
    auto paths = walk(deadline);
    if (!paths)
        return {};
    std::lock_guard lock(m_lock);
    m_paths = std::move(*paths);
    if (auto found = m_paths.find(id); found != m_paths.end())
        return { Name::State::named, found->second };
    // The socket was made before this walk began, so its group would have
    // been found had it still been there.
    if (m_gone.size() >= kMostGoneGroups)
        m_gone.clear();
    m_gone.insert(id);
    return { Name::State::gone, {} };
}

// A group's id is the inode of its folder, which a directory listing gives
// without a stat of each: one walk of the tree learns them all.
std::optional<std::unordered_map<std::uint64_t, std::string>> ControlGroups::walk(Deadline deadline) const
{
    std::unordered_map<std::uint64_t, std::string> paths;
    std::vector<std::string> folders { "" };
    while (!folders.empty() && paths.size() < kMostGroups) {
        if (std::chrono::steady_clock::now() > deadline)
            return std::nullopt;
        const auto folder = std::move(folders.back());
        folders.pop_back();
        DIR* listing = opendir((m_mountPoint + folder).c_str());
        if (!listing)
            continue;
        while (const dirent* entry = readdir(listing)) {
            const std::string_view name = entry->d_name;
            if (name == "..")
                continue;
            if (name == ".") {
                paths.emplace(entry->d_ino, folder.empty() ? "/" : folder);
                continue;
            }
            if (entry->d_type == DT_DIR)
                folders.push_back(folder + "/" + std::string(name));
        }
        closedir(listing);
    }
    return paths;
}

std::optional<std::vector<pid_t>> ControlGroups::processesIn(const std::string& path) const
{
    std::ifstream list(m_mountPoint + (path == "/" ? "" : path) + "/cgroup.procs");
    if (!list)
        return std::nullopt;
    std::vector<pid_t> processes;
    std::string line;
    while (std::getline(list, line)) {
        if (auto pid = processIDIn(line))
            processes.push_back(*pid);
    }
    return processes;
}

bool ControlGroups::exists(const std::string& path) const
{
    struct stat status = {};
    return available() && stat((m_mountPoint + path).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace platform::cgroups
