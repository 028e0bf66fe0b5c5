#pragma once

// The unified (v2) control-group hierarchy, in which the kernel says which
// group made a socket. systemd runs every Flatpak application in a group of
// its own named after it, and every snap likewise, so a group's name can say
// which sandbox a socket comes from without looking at a single process.
//
// Safe to use from several threads: the names learnt are shared.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace platform::cgroups {

class ControlGroups {
public:
    using Deadline = std::chrono::steady_clock::time_point;

    // What a group's id amounts to.
    struct Name {
        enum class State {
            // `path` is where it is below the hierarchy's root ("/user.slice/…").
            named,
            // No group has that id any more: the kernel never gives an id
            // twice, so it has gone for good.
            gone,
            // Not learnt yet (only a walk can tell), or the walk ran out of
            // time.
            unknown,
        };
        State state { State::unknown };
        std::string path;
    };

    // Finds where the hierarchy is mounted, in our own mount table.
    ControlGroups();
    explicit ControlGroups(std::string mountPoint)
        : m_mountPoint(std::move(mountPoint))
    {
    }

    bool available() const { return !m_mountPoint.empty(); }
    // What was learnt of the group `id` so far; never walks.
    Name known(std::uint64_t id) const;
    // The same, walking the hierarchy once more first when the id is not
    // known yet, until `deadline`.
    Name learn(std::uint64_t id, Deadline deadline);
    // The processes in the group at `path`, or nothing when they cannot be
    // listed.
    std::optional<std::vector<pid_t>> processesIn(const std::string& path) const;
    // Whether a group exists at `path`.
    bool exists(const std::string& path) const;

private:
    // Every group's id and path, or nothing when the walk ran out of time.
    std::optional<std::unordered_map<std::uint64_t, std::string>> walk(Deadline deadline) const;

    std::string m_mountPoint;
    mutable std::mutex m_lock;
    std::unordered_map<std::uint64_t, std::string> m_paths;
    std::unordered_set<std::uint64_t> m_gone;
};

// Where the unified hierarchy is mounted, from a mount table's text.
std::optional<std::string> unifiedHierarchyIn(std::string_view mountInfo);

} // namespace platform::cgroups
