#include "platform/linux/kernel_tables/process_directory.h"

#include "platform/linux/common/retrying_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/kcmp.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>

namespace platform::procfs {

namespace {

using linux_files::OwnedDescriptor;

// A mount table of thousands of mounts is still well below this.
constexpr std::size_t kMostMountTableBytes = 8 * 1024 * 1024;

// Fields of /proc/PID/stat as proc(5) numbers them; the text after the
// command name starts at the state, field 3.
constexpr int kStateField = 3;
constexpr int kThreadCountField = 20;

template<typename Number>
std::optional<Number> numberAt(std::string_view text)
{
    Number value {};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc {} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// Field `number` (counted as proc(5) counts) of the text that starts at the
// state field.
std::string_view statField(std::string_view fromState, int number)
{
    std::size_t start = 0;
    for (int i = kStateField; i < number; ++i) {
        start = fromState.find(' ', start);
        if (start == std::string_view::npos)
            return {};
        ++start;
    }
    return fromState.substr(start, fromState.find(' ', start) - start);
}

// Calls `visit` with each line of `text`, until it returns true.
template<typename Visit>
void eachLine(std::string_view text, Visit visit)
{
    while (!text.empty()) {
        const auto end = std::min(text.find('\n'), text.size());
        if (visit(text.substr(0, end)))
            return;
        text.remove_prefix(std::min(end + 1, text.size()));
    }
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

Reading<std::string> readEntryAt(int directory, const char* name, std::size_t most)
{
    OwnedDescriptor entry(openat(directory, name, O_RDONLY | O_CLOEXEC));
    if (!entry.isValid())
        return Reading<std::string>::failedNow();
    std::string text;
    std::array<char, 4096> buffer;
    for (;;) {
        const auto length = linux_files::readRetryingInterrupts(entry.get(), buffer.data(), buffer.size());
        if (length < 0)
            return Reading<std::string>::failedNow();
        if (length == 0)
            break;
        text.append(buffer.data(), static_cast<std::size_t>(length));
        if (text.size() > most)
            return Reading<std::string>::failedWith(EFBIG);
    }
    // A process that has ended shows some entries empty.
    if (text.empty())
        return Reading<std::string>::failedWith(ESRCH);
    return text;
}

Reading<std::string> executablePathAt(int directory, const char* link)
{
    // One call, with room for any path the kernel gives: listing
    // applications reads the link of every process each time.
    std::array<char, PATH_MAX> target;
    const auto length = readlinkat(directory, link, target.data(), target.size());
    if (length <= 0)
        return Reading<std::string>::failedNow();
    if (static_cast<std::size_t>(length) == target.size())
        return Reading<std::string>::failedWith(ENAMETOOLONG);
    // A program replaced on disk while running shows as "path (deleted)".
    constexpr std::string_view kDeletedMark = " (deleted)";
    std::string_view path(target.data(), static_cast<std::size_t>(length));
    if (path.ends_with(kDeletedMark))
        path.remove_suffix(kDeletedMark.size());
    return std::string(path);
}

Reading<std::string> ProcessDirectory::readEntry(const char* name, std::size_t most) const
{
    return readEntryAt(m_directory.get(), name, most);
}

bool ProcessDirectory::hasEnded() const
{
    return faccessat(m_directory.get(), "stat", F_OK, 0) != 0 && (errno == ENOENT || errno == ESRCH);
}

std::optional<ProcessStatus> parseProcessStatus(std::string_view text)
{
    // The command name in parentheses may hold blanks and parentheses of its
    // own: the fields are counted from the last closing one, which is
    // followed by the state.
    const auto nameEnd = text.rfind(')');
    if (nameEnd == std::string_view::npos || nameEnd + 2 >= text.size())
        return std::nullopt;
    const auto fromState = text.substr(nameEnd + 2);
    const auto threads = numberAt<long>(statField(fromState, kThreadCountField));
    if (!threads)
        return std::nullopt;
    return ProcessStatus { fromState[0], *threads };
}

Reading<ProcessStatus> ProcessDirectory::status() const
{
    const auto text = readEntry("stat");
    if (!text)
        return text.passOn<ProcessStatus>();
    if (auto status = parseProcessStatus(*text))
        return *status;
    return Reading<ProcessStatus>::failedWith(EBADMSG);
}

Reading<ino_t> ProcessDirectory::mountNamespace() const
{
    struct stat status = {};
    if (fstatat(m_directory.get(), "ns/mnt", &status, 0) != 0)
        return Reading<ino_t>::failedNow();
    return status.st_ino;
}

std::optional<std::size_t> pidNamespaceDepthIn(std::string_view status)
{
    std::optional<std::size_t> depth;
    eachLine(status, [&](std::string_view line) {
        constexpr std::string_view kKey = "NSpid:";
        if (!line.starts_with(kKey))
            return false;
        std::size_t count = 0;
        bool inNumber = false;
        for (char c : line.substr(kKey.size())) {
            const bool digit = c >= '0' && c <= '9';
            count += digit && !inNumber;
            inNumber = digit;
        }
        if (count > 0)
            depth = count;
        return true;
    });
    return depth;
}

std::optional<uid_t> realUserIDIn(std::string_view status)
{
    std::optional<uid_t> user;
    eachLine(status, [&](std::string_view line) {
        constexpr std::string_view kKey = "Uid:";
        if (!line.starts_with(kKey))
            return false;
        // Real, effective, saved and file-system ids, separated by tabs.
        line.remove_prefix(kKey.size());
        line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
        user = numberAt<uid_t>(line.substr(0, line.find_first_of(" \t")));
        return true;
    });
    return user;
}

Reading<std::size_t> ProcessDirectory::pidNamespaceDepth() const
{
    const auto text = readEntry("status", kMostStatusBytes);
    if (!text)
        return text.passOn<std::size_t>();
    if (auto depth = pidNamespaceDepthIn(*text))
        return *depth;
    return Reading<std::size_t>::failedWith(EBADMSG);
}

std::optional<std::string> unifiedGroupIn(std::string_view controlGroups)
{
    std::optional<std::string> group;
    eachLine(controlGroups, [&](std::string_view line) {
        if (!line.starts_with("0::"))
            return false;
        group = std::string(line.substr(3));
        return true;
    });
    return group;
}

Reading<std::string> ProcessDirectory::controlGroup() const
{
    const auto text = readEntry("cgroup");
    if (!text)
        return text;
    if (auto group = unifiedGroupIn(*text))
        return std::move(*group);
    return Reading<std::string>::failedWith(ENODATA);
}

Reading<std::string> ProcessDirectory::executableName() const
{
    auto path = executablePathAt(m_directory.get(), "exe");
    if (!path)
        return path;
    return path->substr(path->rfind('/') + 1);
}

Reading<std::string> ProcessDirectory::mountTable() const { return readEntry("mountinfo", kMostMountTableBytes); }

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
