#include "platform/linux/kernel_tables/proc_entries.h"

#include <dirent.h>
#include <limits.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>

namespace platform::procfs {

namespace {

constexpr std::string_view kDeletedMark = " (deleted)";

std::string entryPath(const std::string& process, const char* entry)
{
    return "/proc/" + process + "/" + entry;
}

std::optional<std::string> firstLineStartingWith(const std::string& path, std::string_view prefix)
{
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.starts_with(prefix))
            return line.substr(prefix.size());
    }
    return std::nullopt;
}

} // namespace

std::optional<pid_t> processIDFromText(std::string_view text)
{
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
    if (error != std::errc {} || end != text.data() + text.size() || pid <= 0)
        return std::nullopt;
    return pid;
}

std::vector<ListedProcess> listedProcesses()
{
    std::vector<ListedProcess> processes;
    DIR* proc = opendir("/proc");
    if (!proc)
        return processes;
    while (const dirent* entry = readdir(proc)) {
        if (const auto pid = processIDFromText(entry->d_name))
            processes.push_back({ *pid, entry->d_ino });
    }
    closedir(proc);
    return processes;
}

std::vector<pid_t> listedProcessIDs()
{
    std::vector<pid_t> pids;
    for (const auto& process : listedProcesses())
        pids.push_back(process.pid);
    return pids;
}

std::optional<std::string> executablePath(const std::string& process)
{
    // One call, with room for any path the kernel gives: listing
    // applications reads the link of every process each time.
    char link[PATH_MAX];
    const auto length = readlink(entryPath(process, "exe").c_str(), link, sizeof link);
    if (length <= 0 || static_cast<std::size_t>(length) == sizeof link)
        return std::nullopt;
    std::string path(link, static_cast<std::size_t>(length));
    if (path.ends_with(kDeletedMark))
        path.resize(path.size() - kDeletedMark.size());
    return path;
}

std::optional<uid_t> realUserID(pid_t process)
{
    const auto fields = firstLineStartingWith(entryPath(std::to_string(process), "status"), "Uid:");
    if (!fields)
        return std::nullopt;
    std::istringstream stream(*fields);
    uid_t uid = 0;
    if (!(stream >> uid))
        return std::nullopt;
    return uid;
}

std::optional<char> processState(pid_t process)
{
    std::ifstream file(entryPath(std::to_string(process), "stat"));
    // The command name in parentheses may itself hold ") " or a line break,
    // so the whole entry is read and the state found after the last
    // parenthesis.
    const std::string contents { std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() };
    const auto nameEnd = contents.rfind(')');
    if (nameEnd == std::string::npos || nameEnd + 2 >= contents.size())
        return std::nullopt;
    return contents[nameEnd + 2];
}

} // namespace platform::procfs
