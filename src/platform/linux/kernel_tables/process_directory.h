#pragma once

// A process of the user looked at through its /proc directory, opened once:
// every later read names the same process, or fails once it has gone, even
// after its PID has been given to another.

#include "platform/linux/common/owned_descriptor.h"

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::procfs {

struct ProcessStatus {
    char state { '?' };
    long threads { 0 };
    // Clock ticks since boot: with the PID, names the process for good.
    std::uint64_t startTime { 0 };
};

class ProcessDirectory {
public:
    // /proc/ID for a process or a thread; invalid when it has gone.
    explicit ProcessDirectory(pid_t id);
    ProcessDirectory(ProcessDirectory&&) = default;
    ProcessDirectory& operator=(ProcessDirectory&&) = default;

    bool isValid() const { return m_directory.isValid(); }
    // Whether the process has ended, as opposed to being unreadable for the
    // moment (we may have run out of descriptors).
    bool hasEnded() const;
    pid_t id() const { return m_id; }
    int descriptor() const { return m_directory.get(); }
    // The directory belongs to whoever the process runs as, and to root for
    // a process that made itself unreadable (not dumpable).
    std::optional<uid_t> owner() const;
    std::optional<ProcessStatus> status() const;
    // The mount namespace, by inode; nothing when it cannot be read.
    std::optional<ino_t> mountNamespace() const;
    // The process's control group in the unified hierarchy ("0::PATH").
    std::optional<std::string> controlGroup() const;
    // Its root as it sees it, for paths inside its sandbox.
    linux_files::OwnedDescriptor openRoot() const;
    // Threads with a descriptor table of their own besides the leader's
    // (made by clone without CLONE_FILES), or every other thread when the
    // leader has exited; each one's directory.
    std::vector<ProcessDirectory> threadsWithOwnDescriptors(const ProcessStatus& status) const;

private:
    ProcessDirectory(linux_files::OwnedDescriptor directory, pid_t id)
        : m_directory(std::move(directory))
        , m_id(id)
    {
    }
    linux_files::OwnedDescriptor m_directory;
    pid_t m_id { 0 };
};

// Whether `text` (the contents of /proc/PID/stat) parses, and its fields.
std::optional<ProcessStatus> parseProcessStatus(std::string_view text);

} // namespace platform::procfs
