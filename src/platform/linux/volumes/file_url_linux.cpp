#include "platform/file_url.h"

#include "platform/linux/common/gobject_ptr.h"

namespace platform {

std::string fileURLForPath(const std::string& absolutePath)
{
    linux_gio::GTextPtr url(g_filename_to_uri(absolutePath.c_str(), nullptr, nullptr));
    return url ? std::string(url.get()) : std::string();
}

} // namespace platform
