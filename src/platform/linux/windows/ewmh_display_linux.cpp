#include "platform/linux/windows/ewmh_display.h"

namespace platform::x11 {

EwmhDisplay::EwmhDisplay(const std::string& name)
    : m_connection(xcb_connect(name.empty() ? nullptr : name.c_str(), &m_screen))
{
    if (xcb_connection_has_error(m_connection))
        return;
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(m_connection, &m_ewmh);
    m_ready = cookies && xcb_ewmh_init_atoms_replies(&m_ewmh, cookies, nullptr);
}

EwmhDisplay::~EwmhDisplay()
{
    if (m_ready)
        xcb_ewmh_connection_wipe(&m_ewmh);
    xcb_disconnect(m_connection);
}

std::optional<std::vector<xcb_window_t>> EwmhDisplay::windowsIn(xcb_get_property_cookie_t cookie)
{
    xcb_ewmh_get_windows_reply_t list;
    if (!xcb_ewmh_get_windows_reply(&m_ewmh, cookie, &list, nullptr))
        return std::nullopt;
    std::vector<xcb_window_t> windows(list.windows, list.windows + list.windows_len);
    xcb_ewmh_get_windows_reply_wipe(&list);
    return windows;
}

} // namespace platform::x11
