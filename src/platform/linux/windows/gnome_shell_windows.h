#pragma once

// GNOME Shell raises windows for no outside program on Wayland; the helper's
// own Shell extension (bundle/gnome-shell-extension) does it on request,
// over the session bus. The Shell loads a newly installed extension only at
// the next login.

#include "platform/linux/common/dbus_bus.h"
#include "platform/running_applications.h"

#include <cstdint>
#include <optional>

namespace platform::gnome_shell {

// Whether GNOME Shell serves the session bus now.
bool runs(linux_dbus::BusConnection& sessionBus);

// How many windows of `process` the extension activated; nothing when it
// does not answer (not loaded yet, or not installed).
std::optional<std::uint32_t> activateWindowsOf(linux_dbus::BusConnection& sessionBus, ProcessID process);

} // namespace platform::gnome_shell
