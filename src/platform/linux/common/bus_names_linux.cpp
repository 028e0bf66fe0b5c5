#include "platform/linux/common/bus_names.h"

namespace platform::linux_dbus {

bool nameHasOwner(BusConnection& bus, const char* name)
{
    auto reply = bus.call({ "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner" },
        g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"));
    gboolean owned = FALSE;
    if (reply.outcome == CallOutcome::Replied)
        g_variant_get(reply.body.get(), "(b)", &owned);
    return owned;
}

} // namespace platform::linux_dbus
