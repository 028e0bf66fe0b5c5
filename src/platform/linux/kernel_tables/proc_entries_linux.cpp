#include "platform/linux/kernel_tables/proc_entries.h"

#include "platform/linux/kernel_tables/process_directory.h"

#include <dirent.h>
#include <fcntl.h>

#include <charconv>

namespace platform::procfs {

namespace {

std::string entryPath(const std::string& process, const char* entry)
{
    return "/proc/" + process + "/" + entry;
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

Reading<std::string> executablePath(const std::string& process)
{
    return executablePathAt(AT_FDCWD, entryPath(process, "exe").c_str());
}

Reading<uid_t> realUserID(pid_t process)
{
    const auto status = readEntryAt(AT_FDCWD, entryPath(std::to_string(process), "status").c_str(), kMostStatusBytes);
    if (!status)
        return status.passOn<uid_t>();
    if (const auto user = realUserIDIn(*status))
        return *user;
    return Reading<uid_t>::failedWith(EBADMSG);
}

Reading<char> processState(pid_t process)
{
    const auto stat = readEntryAt(AT_FDCWD, entryPath(std::to_string(process), "stat").c_str());
    if (!stat)
        return stat.passOn<char>();
    if (const auto status = parseProcessStatus(*stat))
        return status->state;
    return Reading<char>::failedWith(EBADMSG);
}

} // namespace platform::procfs
