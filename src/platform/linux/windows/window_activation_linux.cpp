#include "platform/linux/common/dbus_bus.h"
#include "platform/linux/windows/gnome_shell_windows.h"
#include "platform/linux/windows/i3_ipc.h"
#include "platform/linux/windows/kwin_scripting.h"
#include "platform/linux/windows/x11_window_activation.h"
#include "platform/linux_platform.h"

#include <memory>
#include <set>

namespace platform {

namespace {

// The compositor of a Wayland session is the only one that can raise its
// native windows; it knows its X11 (Xwayland) windows too, and KWin is the
// window manager of Plasma's X11 sessions as well. Where no compositor
// answers, or no window of the process matched, the X server's window
// manager is asked, as on any X11 session.
class DesktopWindowActivation {
public:
    explicit DesktopWindowActivation(SystemLog& log)
        : m_log(log)
    {
    }

    void activate(ProcessID process)
    {
        if (activatedByCompositor(process))
            return;
        x11::activateWindowsOfProcess(process);
    }

private:
    bool activatedByCompositor(ProcessID process)
    {
        if (kwin::runs(m_sessionBus)) {
            if (kwin::activateWindowsOf(m_sessionBus, process))
                return true;
            sayOnce("KWin did not run the script that raises windows; only X11 windows are raised");
            return false;
        }
        if (gnome_shell::runs(m_sessionBus)) {
            if (auto activated = gnome_shell::activateWindowsOf(m_sessionBus, process))
                return *activated > 0;
            sayOnce("GNOME Shell has not loaded the helper's window extension (it loads it at the next login after "
                    "installing); only X11 windows are raised until then");
            return false;
        }
        auto socket = i3::sessionSocket();
        return socket && i3::focusWindowsOf(*socket, process, linux_dbus::kBound);
    }

    // Each cause once: the same request comes again and again.
    void sayOnce(const char* cause)
    {
        if (m_said.insert(cause).second)
            m_log.write(cause);
    }

    SystemLog& m_log;
    // Kept open between requests, as every bus the helper talks to.
    linux_dbus::BusConnection m_sessionBus { G_BUS_TYPE_SESSION };
    std::set<const char*> m_said;
};

} // namespace

WindowActivation makeWindowActivation(SystemLog& log)
{
    auto activation = std::make_shared<DesktopWindowActivation>(log);
    return [activation](ProcessID process) { activation->activate(process); };
}

} // namespace platform
