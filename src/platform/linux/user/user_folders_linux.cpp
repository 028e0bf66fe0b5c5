#include "platform/linux/user/user_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace platform::linux_files {

namespace {

std::optional<std::string> absoluteEnvironmentPath(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || value[0] != '/')
        return std::nullopt;
    return std::string(value);
}

// Services started without a login environment may lack HOME; the account
// database still knows the folder.
std::optional<std::string> accountHomeFolder()
{
    const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry {};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir
        || found->pw_dir[0] != '/')
        return std::nullopt;
    return std::string(found->pw_dir);
}

} // namespace

std::optional<std::string> homeFolder()
{
    if (auto home = absoluteEnvironmentPath("HOME"))
        return home;
    return accountHomeFolder();
}

std::optional<std::string> xdgBaseFolder(const char* variable, const char* belowHome)
{
    if (auto folder = absoluteEnvironmentPath(variable))
        return folder;
    if (auto home = homeFolder())
        return *home + "/" + belowHome;
    return std::nullopt;
}

} // namespace platform::linux_files
