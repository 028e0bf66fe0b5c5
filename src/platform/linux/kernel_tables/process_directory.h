#pragma once

// A process of the user looked at through its /proc directory, opened once:
// every later read names the same process, or fails once it has gone, even
// after its PID has been given to another. Every read says why it gave
// nothing: gone, not allowed, or failed.

#include "platform/linux/common/owned_descriptor.h"
#include "platform/linux/kernel_tables/kernel_reading.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::procfs {

// The fields of /proc/PID/stat that we use.
struct ProcessStatus {
    char state { '?' };
    long threads { 0 };
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
    Reading<ProcessStatus> status() const;
    // The mount namespace, by inode.
    Reading<ino_t> mountNamespace() const;
    // How deep in nested PID namespaces the process runs, from the one our
    // /proc belongs to (1 for a process of that namespace), from its status
    // file, which the kernel shows even for a process that made itself
    // unreadable.
    Reading<std::size_t> pidNamespaceDepth() const;
    // The process's control group in the unified hierarchy ("0::PATH").
    Reading<std::string> controlGroup() const;
    // The file name of its executable.
    Reading<std::string> executableName() const;
    // Its root as it sees it, for paths inside its sandbox.
    linux_files::OwnedDescriptor openRoot() const;
    // Its mount table, as it sees it.
    Reading<std::string> mountTable() const;
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
    Reading<std::string> readEntry(const char* name, std::size_t most = 4096) const;

    linux_files::OwnedDescriptor m_directory;
    pid_t m_id { 0 };
};

// /proc/PID/status runs to a few KiB, its thread and group lists included.
constexpr std::size_t kMostStatusBytes = 64 * 1024;

// The whole text of the entry `name` under `directory` (a process's
// directory, or AT_FDCWD for a path), read with as few calls as it takes;
// EFBIG past `most` bytes, ESRCH when empty, as a process that has ended
// shows some entries.
Reading<std::string> readEntryAt(int directory, const char* name, std::size_t most = 4096);
// The executable the link `link` under `directory` names. A program
// replaced on disk while running shows as "path (deleted)": the path it was
// started from is what we want.
Reading<std::string> executablePathAt(int directory, const char* link);

// The fields of the text of /proc/PID/stat, or nothing when it does not parse.
std::optional<ProcessStatus> parseProcessStatus(std::string_view text);
// The unified hierarchy's path in the text of /proc/PID/cgroup: its "0::"
// line.
std::optional<std::string> unifiedGroupIn(std::string_view controlGroups);
// The real user id, the first field of the "Uid:" line of /proc/PID/status.
std::optional<uid_t> realUserIDIn(std::string_view status);
// How many PIDs the "NSpid:" line of /proc/PID/status gives.
std::optional<std::size_t> pidNamespaceDepthIn(std::string_view status);

} // namespace platform::procfs
