#include "platform/linux/common/dbus_bus.h"
#include "platform/linux/windows/i3_ipc.h"
#include "platform/linux/windows/x11_window_activation.h"
#include "platform/linux_platform.h"

namespace platform {

// The compositor of a Wayland session is the only one that can raise its
// native windows; it knows its X11 (Xwayland) windows too. Where it has no
// such service, or no window of the process matched, the X server's window
// manager is asked, as on an X11 session.
void activateWindowsOfProcess(ProcessID process)
{
    if (auto socket = i3::sessionSocket(); socket && i3::focusWindowsOf(*socket, process, linux_dbus::kBound))
        return;
    x11::activateWindowsOfProcess(process);
}

} // namespace platform
