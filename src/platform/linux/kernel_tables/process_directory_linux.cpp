#include "platform/linux/kernel_tables/process_directory.h"

#include "platform/linux/common/retrying_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/kcmp.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <string_view>

namespace platform::procfs {

namespace {

using linux_files::OwnedDescriptor;

// Small /proc entries, read whole in one go.
std::optional<std::string> readEntry(int directory, const char* name)
{
    OwnedDescriptor entry(openat(directory, name, O_RDONLY | O_CLOEXEC));
    if (!entry.isValid())
        return std::nullopt;
    std::array<char, 4096> buffer;
    const auto length = linux_files::readRetryingInterrupts(entry.get(), buffer.data(), buffer.size());
    if (length <= 0)
        return std::nullopt;
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

template<typename Number>
std::optional<Number> numberAt(std::string_view text)
{
    Number value {};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc {})
        return std::nullopt;
    return value;
}

// The n-th blank-separated field of `text` (0 is the first).
std::string_view field(std::string_view text, int n)
{
    std::size_t start = 0;
    for (int i = 0; i < n; ++i) {
        start = text.find(' ', start);
        if (start == std::string_view::npos)
            return {};
        ++start;
    }
    return text.substr(start, text.find(' ', start) - start);
}

bool sharesDescriptorTable(pid_t leader, pid_t thread)
{
    return syscall(SYS_kcmp, leader, thread, KCMP_FILES, 0, 0) == 0;
}

} // namespace

ProcessDirectory::ProcessDirectory(pid_t id)
    : m_directory(open(("/proc/" + std::to_string(id)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    , m_id(id)
{
}

bool ProcessDirectory::hasEnded() const
{
    return faccessat(m_directory.get(), "stat", F_OK, 0) != 0 && (errno == ENOENT || errno == ESRCH);
}

std::optional<uid_t> ProcessDirectory::owner() const
{
    struct stat status = {};
    if (fstat(m_directory.get(), &status) != 0)
        return std::nullopt;
    return status.st_uid;
}

std::optional<ProcessStatus> parseProcessStatus(std::string_view text)
{
    // The command name in parentheses may hold blanks and parentheses of its
    // own: the fields are counted from the last closing one, which is
    // followed by the state (field 3 of proc(5)).
    const auto nameEnd = text.rfind(')');
    if (nameEnd == std::string_view::npos || nameEnd + 2 >= text.size())
        return std::nullopt;
    const auto fields = text.substr(nameEnd + 2);
    const auto threads = numberAt<long>(field(fields, 17)); // num_threads, field 20
    const auto started = numberAt<std::uint64_t>(field(fields, 19)); // starttime, field 22
    if (!threads || !started)
        return std::nullopt;
    return ProcessStatus { fields[0], *threads, *started };
}

std::optional<ProcessStatus> ProcessDirectory::status() const
{
    const auto text = readEntry(m_directory.get(), "stat");
    return text ? parseProcessStatus(*text) : std::nullopt;
}

std::optional<ino_t> ProcessDirectory::mountNamespace() const
{
    struct stat status = {};
    if (fstatat(m_directory.get(), "ns/mnt", &status, 0) != 0)
        return std::nullopt;
    return status.st_ino;
}

std::optional<std::string> ProcessDirectory::controlGroup() const
{
    const auto text = readEntry(m_directory.get(), "cgroup");
    if (!text)
        return std::nullopt;
    std::string_view rest = *text;
    while (!rest.empty()) {
        const auto end = std::min(rest.find('\n'), rest.size());
        const auto line = rest.substr(0, end);
        if (line.starts_with("0::"))
            return std::string(line.substr(3));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return std::nullopt;
}

OwnedDescriptor ProcessDirectory::openRoot() const
{
    return OwnedDescriptor(openat(m_directory.get(), "root", O_PATH | O_DIRECTORY | O_CLOEXEC));
}

std::vector<ProcessDirectory> ProcessDirectory::threadsWithOwnDescriptors(const ProcessStatus& status) const
{
    std::vector<ProcessDirectory> threads;
    // Most processes have one thread: nothing more to read.
    if (status.threads <= 1 && status.state != 'Z')
        return threads;
    OwnedDescriptor taskFolder(openat(m_directory.get(), "task", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* tasks = taskFolder.isValid() ? fdopendir(taskFolder.get()) : nullptr;
    if (!tasks)
        return threads;
    taskFolder.release();
    const bool leaderExited = status.state == 'Z';
    while (const dirent* entry = readdir(tasks)) {
        const auto thread = numberAt<pid_t>(entry->d_name);
        if (!thread || *thread == m_id)
            continue;
        // A leader that has exited shows no descriptors at all; kcmp cannot
        // compare with it either.
        if (!leaderExited && sharesDescriptorTable(m_id, *thread))
            continue;
        OwnedDescriptor directory(openat(dirfd(tasks), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (directory.isValid())
            threads.push_back(ProcessDirectory(std::move(directory), *thread));
    }
    closedir(tasks);
    return threads;
}

} // namespace platform::procfs
