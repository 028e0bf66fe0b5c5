#pragma once

// A real window manager on a virtual display for the length of a test, and
// what an EWMH pager sees of it and asks of it: desktops, the active window,
// the clients and their stacking.

#include "platform/linux/windows/ewmh_display.h"
#include "support/child_process.h"
#include "support/desktop_home.h"

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class Pager {
public:
    explicit Pager(const std::string& display)
        : m_display(display)
        , m_connection(m_display.connection())
        , m_ewmh(*m_display.ewmh())
    {
    }

    // A manager is there once it takes on new windows. Openbox names its
    // check window before it does, and a window mapped in between stays
    // unmanaged; so the probe is a fresh window each time.
    bool managerTakesOnWindows()
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (probeIsManaged())
                return true;
        }
        return false;
    }

    std::optional<std::uint32_t> currentDesktop()
    {
        std::uint32_t desktop = 0;
        if (!xcb_ewmh_get_current_desktop_reply(&m_ewmh, xcb_ewmh_get_current_desktop(&m_ewmh, 0), &desktop, nullptr))
            return std::nullopt;
        return desktop;
    }

    std::optional<std::uint32_t> desktopOf(xcb_window_t window)
    {
        std::uint32_t desktop = 0;
        if (!xcb_ewmh_get_wm_desktop_reply(&m_ewmh, xcb_ewmh_get_wm_desktop(&m_ewmh, window), &desktop, nullptr))
            return std::nullopt;
        return desktop;
    }

    xcb_window_t activeWindow()
    {
        xcb_window_t window = XCB_NONE;
        xcb_ewmh_get_active_window_reply(&m_ewmh, xcb_ewmh_get_active_window(&m_ewmh, 0), &window, nullptr);
        return window;
    }

    // The clients bottom to top.
    std::vector<xcb_window_t> stacking() { return windowsIn(xcb_ewmh_get_client_list_stacking(&m_ewmh, 0)); }

    // The clients `process` owns, in the order they were mapped.
    std::vector<xcb_window_t> windowsOf(pid_t process)
    {
        std::vector<xcb_window_t> owned;
        for (const xcb_window_t window : windowsIn(xcb_ewmh_get_client_list(&m_ewmh, 0))) {
            std::uint32_t owner = 0;
            if (xcb_ewmh_get_wm_pid_reply(&m_ewmh, xcb_ewmh_get_wm_pid(&m_ewmh, window), &owner, nullptr)
                && owner == static_cast<std::uint32_t>(process))
                owned.push_back(window);
        }
        return owned;
    }

    // What the user does with a pager or a task bar.
    void activate(xcb_window_t window)
    {
        xcb_ewmh_request_change_active_window(&m_ewmh, 0, window, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, XCB_CURRENT_TIME, XCB_NONE);
        xcb_flush(m_connection);
    }
    void moveToDesktop(xcb_window_t window, std::uint32_t desktop)
    {
        xcb_ewmh_request_change_wm_desktop(&m_ewmh, 0, window, desktop, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
        xcb_flush(m_connection);
    }

private:
    xcb_window_t root() const { return m_display.root(); }

    bool probeIsManaged()
    {
        const xcb_window_t probe = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, probe, root(), 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
            XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(m_connection, probe);
        xcb_flush(m_connection);
        bool listed = false;
        for (int look = 0; look < 5 && !listed; ++look) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const auto clients = windowsIn(xcb_ewmh_get_client_list(&m_ewmh, 0));
            listed = std::find(clients.begin(), clients.end(), probe) != clients.end();
        }
        xcb_destroy_window(m_connection, probe);
        xcb_flush(m_connection);
        return listed;
    }

    std::vector<xcb_window_t> windowsIn(xcb_get_property_cookie_t cookie)
    {
        return m_display.windowsIn(cookie).value_or(std::vector<xcb_window_t> {});
    }

    platform::x11::EwmhDisplay m_display;
    xcb_connection_t* m_connection;
    xcb_ewmh_connection_t& m_ewmh;
};

// `program` (found on PATH) managing `display`, in a home of its own;
// ready() once it has taken over the display.
class WindowManager {
public:
    WindowManager(const std::string& program, const std::string& display)
        : m_process(ChildProcess::tryStart(program, {}, { .environment = environmentFor(display), .outputs = { { STDERR_FILENO, "/dev/null" } }, .endSignal = SIGTERM }))
        , m_ready(m_process && Pager(display).managerTakesOnWindows())
    {
    }

    bool ready() const { return m_ready; }

private:
    Environment environmentFor(const std::string& display) const
    {
        auto environment = m_home.environment();
        environment.emplace_back("DISPLAY", display);
        return environment;
    }

    // Declared first: the manager ends before its home goes.
    DesktopHome m_home;
    std::optional<ChildProcess> m_process;
    bool m_ready { false };
};

} // namespace testing_support
