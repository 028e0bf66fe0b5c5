#include "platform/linux/sandbox/flatpak_info.h"

#include "platform/linux/common/gobject_ptr.h"
#include "platform/linux/sandbox/sandbox_groups.h"

#include <glib.h>

namespace platform::sandbox {

std::optional<std::string> applicationIdIn(const std::string& flatpakInfo)
{
    linux_gio::GKeyFilePtr keys(g_key_file_new());
    if (!g_key_file_load_from_data(keys.get(), flatpakInfo.data(), flatpakInfo.size(), G_KEY_FILE_NONE, nullptr))
        return std::nullopt;
    linux_gio::GTextPtr name(g_key_file_get_string(keys.get(), "Application", "name", nullptr));
    if (!name || !isFlatpakApplicationId(name.get()))
        return std::nullopt;
    return std::string(name.get());
}

} // namespace platform::sandbox
