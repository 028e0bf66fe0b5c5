#include "platform/linux/windows/window_owners.h"
#include "support/owned_by.h"

#include <xcb/res.h>
#include <xcb/xcb_ewmh.h>

#include <cstdlib>

namespace platform::x11 {

namespace {

template<typename Reply>
support::OwnedBy<Reply, std::free> owned(Reply* reply)
{
    return support::OwnedBy<Reply, std::free>(reply);
}

bool serverKnowsClientProcesses(xcb_connection_t* connection)
{
    const auto* extension = xcb_get_extension_data(connection, &xcb_res_id);
    return extension && extension->present;
}

std::optional<ProcessID> clientProcessIn(const xcb_res_query_client_ids_reply_t& reply)
{
    for (auto ids = xcb_res_query_client_ids_ids_iterator(&reply); ids.rem; xcb_res_client_id_value_next(&ids)) {
        if (!(ids.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) || xcb_res_client_id_value_value_length(ids.data) != 1)
            continue;
        const auto pid = *xcb_res_client_id_value_value(ids.data);
        if (pid > 0)
            return static_cast<ProcessID>(pid);
    }
    return std::nullopt;
}

// One question per window, all sent before the first answer is awaited: the
// server names the owning client in its answer, not the window asked about.
std::vector<std::optional<ProcessID>> clientProcessesOf(xcb_connection_t* connection, const std::vector<xcb_window_t>& windows)
{
    std::vector<xcb_res_query_client_ids_cookie_t> cookies;
    cookies.reserve(windows.size());
    for (const xcb_window_t window : windows) {
        const xcb_res_client_id_spec_t spec { window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID };
        cookies.push_back(xcb_res_query_client_ids(connection, 1, &spec));
    }
    std::vector<std::optional<ProcessID>> owners;
    owners.reserve(windows.size());
    for (auto cookie : cookies) {
        auto reply = owned(xcb_res_query_client_ids_reply(connection, cookie, nullptr));
        owners.push_back(reply ? clientProcessIn(*reply) : std::nullopt);
    }
    return owners;
}

std::vector<std::optional<ProcessID>> declaredProcessesOf(EwmhDisplay& display, const std::vector<xcb_window_t>& windows)
{
    std::vector<xcb_get_property_cookie_t> cookies;
    cookies.reserve(windows.size());
    for (const xcb_window_t window : windows)
        cookies.push_back(xcb_ewmh_get_wm_pid(display.ewmh(), window));
    std::vector<std::optional<ProcessID>> owners;
    owners.reserve(windows.size());
    for (auto cookie : cookies) {
        std::uint32_t pid = 0;
        owners.push_back(xcb_ewmh_get_wm_pid_reply(display.ewmh(), cookie, &pid, nullptr) ? std::optional(static_cast<ProcessID>(pid)) : std::nullopt);
    }
    return owners;
}

} // namespace

std::vector<std::optional<ProcessID>> processesOwning(EwmhDisplay& display, const std::vector<xcb_window_t>& windows)
{
    if (!serverKnowsClientProcesses(display.connection()))
        return declaredProcessesOf(display, windows);
    auto owners = clientProcessesOf(display.connection(), windows);
    std::vector<xcb_window_t> unknown;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        if (!owners[i])
            unknown.push_back(windows[i]);
    }
    if (unknown.empty())
        return owners;
    auto declared = declaredProcessesOf(display, unknown);
    for (std::size_t i = 0, next = 0; i < windows.size(); ++i) {
        if (!owners[i])
            owners[i] = declared[next++];
    }
    return owners;
}

} // namespace platform::x11
