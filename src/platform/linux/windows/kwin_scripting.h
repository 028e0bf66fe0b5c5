#pragma once

// KWin (KDE Plasma, on Wayland as on X11) lets no outside client raise a
// window, but it runs scripts it is handed over D-Bus: one loaded, run and
// unloaded per request activates the process's windows from inside. Its
// windows carry the process id KWin read from the client's socket, so
// sandboxed applications' windows match too.

#include "platform/linux/common/dbus_bus.h"
#include "platform/running_applications.h"

#include <string>

namespace platform::kwin {

// The script that activates the normal windows of `process`, bottom to top
// in stacking order, so the one used last ends on top. It speaks the names
// of Plasma 5 (clientList, activeClient) and of Plasma 6 (windowList,
// activeWindow) alike.
std::string activationScript(ProcessID process);

// Whether KWin serves the session bus now.
bool runs(linux_dbus::BusConnection& sessionBus);

// Runs the activation script in KWin; false when KWin did not take it.
bool activateWindowsOf(linux_dbus::BusConnection& sessionBus, ProcessID process);

} // namespace platform::kwin
