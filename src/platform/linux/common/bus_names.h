#pragma once

#include "platform/linux/common/dbus_bus.h"

namespace platform::linux_dbus {

// Whether a service holds `name` on the bus now. Asked before calling a
// desktop's own service, which is never started on demand.
bool nameHasOwner(BusConnection& bus, const char* name);

} // namespace platform::linux_dbus
