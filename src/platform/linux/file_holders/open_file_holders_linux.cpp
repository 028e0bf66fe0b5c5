#include "platform/linux/common/owned_descriptor.h"
#include "platform/linux/file_holders/file_identity.h"
#include "platform/linux/file_holders/lease_probe.h"
#include "platform/linux/file_holders/memory_maps.h"
#include "platform/linux/file_holders/mount_kinds.h"
#include "platform/linux/kernel_tables/bounded_path_walk.h"
#include "platform/linux/kernel_tables/proc_entries.h"
#include "platform/linux_platform.h"
#include "platform/open_file_holders.h"
#include "platform/signal_stack.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

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

// A descriptor opened with O_PATH only names the file: it cannot read or
// write it, and the lease probe passes over it too.
bool isPathOnly(int procFD, const std::string& pid, const char* descriptor)
{
    auto info = openBelow(procFD, pid + "/fdinfo/" + descriptor, 0);
    char text[512];
    auto length = info.isValid() ? read(info.get(), text, sizeof text - 1) : -1;
    if (length <= 0)
        return false;
    text[length] = '\0';
    auto flags = std::strstr(text, "flags:");
    return flags && (std::strtoul(flags + 6, nullptr, 8) & O_PATH) != 0;
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
        return identity && *identity == file && !isPathOnly(procFD, pid, name);
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

struct ProcessEntry {
    ProcessID pid;
    std::string name;
};

ProcessEntry entryOf(ProcessID pid) { return { pid, std::to_string(pid) }; }

// Newest first, as far as process ids tell: a file just downloaded is most
// often held by a program opened on it since, such as a viewer, rather than
// by one of the programs that run all session long.
std::optional<std::vector<ProcessEntry>> listProcessesBut(int procFD, const std::vector<ProcessID>& excluded)
{
    std::vector<ProcessEntry> processes;
    auto listed = anyDirectoryEntry(OwnedDescriptor(dup(procFD)), [&](const char* name) {
        auto pid = procfs::processIDFromText(name);
        if (pid && std::ranges::find(excluded, *pid) == excluded.end())
            processes.push_back({ *pid, name });
        return false;
    });
    if (!listed)
        return std::nullopt;
    std::ranges::sort(processes, std::greater {}, &ProcessEntry::pid);
    return processes;
}

std::optional<std::vector<ProcessEntry>> processesAmong(int procFD, const OpenFileHolders::Processes& among)
{
    if (!among.onlyListed)
        return listProcessesBut(procFD, among.listed);
    std::vector<ProcessEntry> processes;
    std::ranges::transform(among.listed, std::back_inserter(processes), entryOf);
    return processes;
}

// Looking into every process is nearly all kernel time spent per process, so
// it is shared among the CPUs: each worker takes the next process not yet
// taken. Holders are reported one at a time, and once one is answered with
// Stop no further holder is reported.
class HolderScan {
public:
    HolderScan(int procFD, const FileIdentity& file, const std::vector<ProcessEntry>& processes,
        const std::function<OpenFileHolders::Scan(ProcessID)>& holder)
        : m_procFD(procFD)
        , m_file(file)
        , m_processes(processes)
        , m_holder(holder)
    {
    }

    void run()
    {
        std::vector<std::thread> helpers;
        for (unsigned i = 1; i < workerCount(); ++i) {
            try {
                helpers.emplace_back([this] {
                    giveThreadASignalStack();
                    work();
                });
            } catch (const std::system_error&) {
                break; // fewer threads only make the scan slower
            }
        }
        work();
        for (auto& helper : helpers)
            helper.join();
    }

private:
    // A thread costs more to start than looking into a process or two.
    unsigned workerCount() const
    {
        auto processors = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
        return std::max<std::size_t>(1, std::min<std::size_t>(processors, m_processes.size() / 2));
    }

    void work()
    {
        while (!m_stopped.load(std::memory_order_relaxed)) {
            auto index = m_next.fetch_add(1, std::memory_order_relaxed);
            if (index >= m_processes.size())
                return;
            auto const& process = m_processes[index];
            if (holds(process.name))
                report(process.pid);
        }
    }

    // Processes we may not look into (other users', protected ones) are
    // passed over: they are not ours to report.
    bool holds(const std::string& pidText) const
    {
        return hasOpenDescriptor(m_procFD, pidText, m_file) || hasMemoryMapping(m_procFD, pidText, m_file);
    }

    void report(ProcessID pid)
    {
        std::lock_guard lock(m_reporting);
        if (m_stopped.load(std::memory_order_relaxed))
            return;
        if (m_holder(pid) == OpenFileHolders::Scan::Stop)
            m_stopped.store(true, std::memory_order_relaxed);
    }

    int m_procFD;
    const FileIdentity& m_file;
    const std::vector<ProcessEntry>& m_processes;
    const std::function<OpenFileHolders::Scan(ProcessID)>& m_holder;
    std::atomic<std::size_t> m_next { 0 };
    std::atomic<bool> m_stopped { false };
    std::mutex m_reporting;
};

// A file system on a disk of this machine has a device number of its own;
// network and FUSE file systems, like other virtual ones, have none and are
// looked up.
bool opensLocally(const struct statx& status)
{
    if (status.stx_dev_major != 0)
        return true;
    return (status.stx_mask & STATX_MNT_ID) && linux_files::opensWithoutServer(status.stx_mnt_id);
}

class ProcOpenFileHolders final : public OpenFileHolders {
public:
    Openers otherOpeners(const std::string& path) const override
    {
        auto reference = linux_files::openPathReference(path);
        if (linux_files::fileSystemDidNotAnswer(reference))
            return Openers::unreachable;
        if (reference.status != linux_files::PathReference::Status::opened)
            return Openers::unknown;
        struct statx status = {};
        if (!linux_files::cachedAttributes(reference.descriptor.get(), STATX_TYPE | STATX_MNT_ID, status)
            || !S_ISREG(status.stx_mode) || !opensLocally(status))
            return Openers::unknown;
        switch (linux_files::probeOtherOpens(reference.descriptor.get())) {
        case linux_files::OtherOpens::none:
            return Openers::none;
        case linux_files::OtherOpens::some:
            return Openers::some;
        case linux_files::OtherOpens::cannotTell:
            break;
        }
        return Openers::unknown;
    }

    // The descriptors of other processes are examined from the cache only,
    // so a holder of a file on a silent server does not hold up the scan.
    Query forEachHolder(const std::string& path, const Processes& among,
        const std::function<Scan(ProcessID)>& holder) const override
    {
        using Status = linux_files::ClientPathIdentity::Status;
        auto file = linux_files::identityOfClientPath(path);
        if (file.status != Status::found)
            return file.status == Status::unreachable ? Query::unreachable : Query::failed;
        auto proc = OwnedDescriptor(open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!proc.isValid())
            return Query::failed;
        auto processes = processesAmong(proc.get(), among);
        if (!processes)
            return Query::failed;
        HolderScan(proc.get(), file.identity, *processes, holder).run();
        return Query::answered;
    }
};

} // namespace

std::unique_ptr<OpenFileHolders> makeOpenFileHolders() { return std::make_unique<ProcOpenFileHolders>(); }

} // namespace platform
