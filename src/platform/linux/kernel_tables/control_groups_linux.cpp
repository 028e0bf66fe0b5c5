#include "platform/linux/kernel_tables/control_groups.h"

#include "platform/linux/kernel_tables/mount_info.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace platform::cgroups {

namespace {

// A desktop has a few hundred groups; a walk that finds more stops there,
// so that no one can make every lookup slow by making groups.
constexpr std::size_t kMostGroups = 20000;

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

std::optional<std::string> ControlGroups::pathOf(std::uint64_t id)
{
    if (!available() || id == 0)
        return std::nullopt;
    auto known = m_paths.find(id);
    if (known == m_paths.end()) {
        learnPaths();
        known = m_paths.find(id);
    }
    if (known == m_paths.end())
        return std::nullopt;
    return known->second;
}

// A group's id is the inode of its folder, which a directory listing gives
// without a stat of each: one walk of the tree learns them all.
void ControlGroups::learnPaths()
{
    m_paths.clear();
    std::vector<std::string> folders { "" };
    while (!folders.empty() && m_paths.size() < kMostGroups) {
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
                m_paths.emplace(entry->d_ino, folder.empty() ? "/" : folder);
                continue;
            }
            if (entry->d_type == DT_DIR)
                folders.push_back(folder + "/" + std::string(name));
        }
        closedir(listing);
    }
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

} // namespace platform::cgroups
