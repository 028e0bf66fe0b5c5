#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <optional>
#include <string>
#include <vector>

namespace platform::x11 {

// A connection to an X display with the EWMH atoms learnt, for asking what
// a window manager or pager knows: the clients, their stacking, their owners.
class EwmhDisplay {
public:
    // The display in DISPLAY when `name` is empty.
    explicit EwmhDisplay(const std::string& name = {});
    ~EwmhDisplay();
    EwmhDisplay(const EwmhDisplay&) = delete;
    EwmhDisplay& operator=(const EwmhDisplay&) = delete;

    bool ready() const { return m_ready && m_screen >= 0 && m_screen < m_ewmh.nb_screens; }
    xcb_connection_t* connection() const { return m_connection; }
    xcb_ewmh_connection_t* ewmh() { return &m_ewmh; }
    int screen() const { return m_screen; }
    xcb_window_t root() const { return m_ewmh.screens[m_screen]->root; }

    // The window list a property request of `ewmh()` answers; nothing when
    // the property is missing.
    std::optional<std::vector<xcb_window_t>> windowsIn(xcb_get_property_cookie_t cookie);

private:
    int m_screen { 0 };
    xcb_connection_t* m_connection;
    xcb_ewmh_connection_t m_ewmh {};
    bool m_ready { false };
};

} // namespace platform::x11
