#include "platform/linux/sandbox/descriptor_carriers.h"

#include <array>

namespace platform::sandbox {

bool carriesDescriptorsForOthers(std::string_view executableName)
{
    // The portals come as xdg-desktop-portal and a back end per desktop
    // (xdg-desktop-portal-gtk, -gnome, -kde, -wlr, …), the document portal
    // and the permission store.
    constexpr std::array<std::string_view, 6> kPrefixes { "dbus-daemon", "dbus-broker", "xdg-desktop-portal", "xdg-document-portal",
        "xdg-permission-store", "xdg-dbus-proxy" };
    for (auto prefix : kPrefixes) {
        if (executableName.starts_with(prefix))
            return true;
    }
    return false;
}

bool carriesDescriptorsForOthers(const procfs::ProcessDirectory& process)
{
    const auto name = process.executableName();
    return name && carriesDescriptorsForOthers(*name);
}

} // namespace platform::sandbox
