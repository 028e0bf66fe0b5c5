#include "platform/application_support.h"

#include "platform/linux/user/user_folders.h"

namespace platform {

std::vector<std::string> userApplicationSupportDirectories()
{
    if (auto dataHome = linux_files::xdgBaseFolder("XDG_DATA_HOME", ".local/share"))
        return { std::move(*dataHome) };
    return {};
}

} // namespace platform
