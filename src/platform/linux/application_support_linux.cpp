#include "platform/application_support.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <vector>

namespace platform {

namespace {

std::optional<std::string> absoluteEnvironmentPath(const char* name)
{
    const char* value = std::getenv(name);
    // The XDG base directory rules say to ignore relative paths:
    // they would resolve against whatever folder we happened to start in.
    if (!value || value[0] != '/')
        return std::nullopt;
    return std::string(value);
}

std::optional<std::string> homeDirectory()
{
    if (auto home = absoluteEnvironmentPath("HOME"))
        return home;
    // Services started without a login environment may lack HOME; the
    // account database still knows the folder.
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

std::vector<std::string> userApplicationSupportDirectories()
{
    if (auto dataHome = absoluteEnvironmentPath("XDG_DATA_HOME"))
        return {std::move(*dataHome)};
    if (const auto home = homeDirectory())
        return {*home + "/.local/share"};
    return {};
}

} // namespace platform
