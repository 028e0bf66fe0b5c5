#include "platform/linux/windows/gnome_shell_windows.h"

#include "platform/linux/common/bus_names.h"

namespace platform::gnome_shell {

namespace {

constexpr linux_dbus::MethodAddress kActivate { "com.Ferrowind.FerrowindHelper.Windows", "/com/Ferrowind/FerrowindHelper/Windows",
    "com.Ferrowind.FerrowindHelper.Windows", "ActivateWindowsOfProcess" };

} // namespace

bool runs(linux_dbus::BusConnection& sessionBus) { return linux_dbus::nameHasOwner(sessionBus, "org.gnome.Shell"); }

std::optional<std::uint32_t> activateWindowsOf(linux_dbus::BusConnection& sessionBus, ProcessID process)
{
    auto reply = sessionBus.call(kActivate, g_variant_new("(u)", static_cast<std::uint32_t>(process)), G_VARIANT_TYPE("(u)"));
    if (reply.outcome != linux_dbus::CallOutcome::Replied)
        return std::nullopt;
    std::uint32_t activated = 0;
    g_variant_get(reply.body.get(), "(u)", &activated);
    return activated;
}

} // namespace platform::gnome_shell
