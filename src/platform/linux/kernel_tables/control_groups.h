#pragma once

// The unified (v2) control-group hierarchy, in which the kernel says which
// group made a socket. systemd runs every Flatpak application in a group of
// its own named after it, and every snap likewise, so a group's name can say
// which sandbox a socket comes from without looking at a single process.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::cgroups {

class ControlGroups {
public:
    // Finds where the hierarchy is mounted, in our own mount table.
    ControlGroups();
    explicit ControlGroups(std::string mountPoint)
        : m_mountPoint(std::move(mountPoint))
    {
    }

    bool available() const { return !m_mountPoint.empty(); }
    // The group's path below the hierarchy's root ("/user.slice/…"), or
    // nothing when no group has that id.
    std::optional<std::string> pathOf(std::uint64_t id);
    // The processes in the group at `path`, or nothing when they cannot be
    // listed.
    std::optional<std::vector<pid_t>> processesIn(const std::string& path) const;

private:
    void learnPaths();

    std::string m_mountPoint;
    std::unordered_map<std::uint64_t, std::string> m_paths;
};

// Where the unified hierarchy is mounted, from a mount table's text.
std::optional<std::string> unifiedHierarchyIn(std::string_view mountInfo);

} // namespace platform::cgroups
