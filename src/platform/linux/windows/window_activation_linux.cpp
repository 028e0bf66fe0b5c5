#include "platform/linux/common/dbus_bus.h"
#include "platform/linux/windows/i3_ipc.h"
#include "platform/linux/windows/kwin_scripting.h"
#include "platform/linux/windows/x11_window_activation.h"
#include "platform/linux_platform.h"

namespace platform {

// The compositor of a Wayland session is the only one that can raise its
// native windows; it knows its X11 (Xwayland) windows too, and KWin is the
// window manager of Plasma's X11 sessions as well. Where no compositor
// answers, or no window of the process matched, the X server's window
// manager is asked, as on any X11 session.
void activateWindowsOfProcess(ProcessID process)
{
    // Asked for on the listener thread only; the connection is kept, as for
    // every bus the helper talks to.
    static linux_dbus::BusConnection sessionBus(G_BUS_TYPE_SESSION);
    if (kwin::runs(sessionBus) && kwin::activateWindowsOf(sessionBus, process))
        return;
    if (auto socket = i3::sessionSocket(); socket && i3::focusWindowsOf(*socket, process, linux_dbus::kBound))
        return;
    x11::activateWindowsOfProcess(process);
}

} // namespace platform
