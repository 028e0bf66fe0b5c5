#include "platform/linux/windows/ewmh_display.h"
#include "platform/linux/windows/window_owners.h"
#include "platform/linux/windows/window_watcher_slots.h"
#include "platform/linux/windows/x11_window_activation.h"
#include "platform/signal_stack.h"
#include "support/owned_by.h"

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace platform::x11 {

namespace {

template<typename Reply>
support::OwnedBy<Reply, std::free> owned(Reply* reply)
{
    return support::OwnedBy<Reply, std::free>(reply);
}

// One connection per request: the helper outlives desktop sessions, and a
// display that went away must not leave a dead connection behind.
using Display = EwmhDisplay;

// A window manager that honours EWMH names a check window on the root, and
// the check window names itself; a manager that died leaves the root's
// property pointing at a window that is gone or no longer names itself.
bool windowManagerRuns(Display& display)
{
    xcb_window_t check = XCB_NONE;
    if (!xcb_ewmh_get_supporting_wm_check_reply(display.ewmh(),
            xcb_ewmh_get_supporting_wm_check(display.ewmh(), display.root()), &check, nullptr))
        return false;
    xcb_window_t self = XCB_NONE;
    return xcb_ewmh_get_supporting_wm_check_reply(display.ewmh(),
               xcb_ewmh_get_supporting_wm_check(display.ewmh(), check), &self, nullptr)
        && self == check;
}

// Under a window manager the windows it manages are the top-level ones (the
// root's children are its frames); without one they are the root's children.
// Managed windows come bottom to top where the manager tells their stacking:
// asked in that order, the application's topmost window, the one its user
// used last, is asked last and keeps the focus, and the order stays as it was.
std::vector<xcb_window_t> topLevelWindows(Display& display, bool managed)
{
    if (managed) {
        auto* ewmh = display.ewmh();
        if (auto stacked = display.windowsIn(xcb_ewmh_get_client_list_stacking(ewmh, display.screen())))
            return *stacked;
        return display.windowsIn(xcb_ewmh_get_client_list(ewmh, display.screen())).value_or(std::vector<xcb_window_t> {});
    }
    std::vector<xcb_window_t> windows;
    auto tree = owned(xcb_query_tree_reply(display.connection(), xcb_query_tree(display.connection(), display.root()), nullptr));
    if (tree) {
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        windows.assign(children, children + xcb_query_tree_children_length(tree.get()));
    }
    return windows;
}

std::vector<xcb_window_t> windowsOwnedBy(Display& display, const std::vector<xcb_window_t>& windows, ProcessID process)
{
    const auto owners = processesOwning(display, windows);
    std::vector<xcb_window_t> owned;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        if (owners[i] == process)
            owned.push_back(windows[i]);
    }
    return owned;
}

void raise(Display& display, xcb_window_t window)
{
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(display.connection(), window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
}

// Only a window on screen can take the focus, and override-redirect windows
// (menus, tooltips) are not the application's windows to the user.
bool canTakeFocus(Display& display, xcb_window_t window)
{
    auto attributes = owned(xcb_get_window_attributes_reply(display.connection(),
        xcb_get_window_attributes(display.connection(), window), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && !attributes->override_redirect;
}

// The window manager decides what becomes active; we say the request comes
// on the user's behalf, as a pager's would, since the user asked for it.
void askWindowManagerToActivate(Display& display, xcb_window_t window)
{
    xcb_ewmh_request_change_active_window(display.ewmh(), display.screen(), window,
        XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, XCB_CURRENT_TIME, XCB_NONE);
    raise(display, window);
}

constexpr std::uint32_t kOnAllDesktops = 0xFFFFFFFF;

std::optional<std::uint32_t> currentDesktop(Display& display)
{
    std::uint32_t desktop = 0;
    if (!xcb_ewmh_get_current_desktop_reply(display.ewmh(),
            xcb_ewmh_get_current_desktop(display.ewmh(), display.screen()), &desktop, nullptr))
        return std::nullopt;
    return desktop;
}

std::vector<std::optional<std::uint32_t>> desktopsOf(Display& display, const std::vector<xcb_window_t>& windows)
{
    std::vector<xcb_get_property_cookie_t> cookies;
    cookies.reserve(windows.size());
    for (const xcb_window_t window : windows)
        cookies.push_back(xcb_ewmh_get_wm_desktop(display.ewmh(), window));
    std::vector<std::optional<std::uint32_t>> desktops;
    for (auto cookie : cookies) {
        std::uint32_t desktop = 0;
        desktops.push_back(xcb_ewmh_get_wm_desktop_reply(display.ewmh(), cookie, &desktop, nullptr)
                ? std::optional(desktop)
                : std::nullopt);
    }
    return desktops;
}

// Several managers only mark a window on another desktop as wanting
// attention when asked to activate it; the user is to find the application,
// so we go to the window's desktop first, as pagers and wmctrl do. `shown`
// follows our own switches, so a desktop is asked for only once in a row.
void activateManaged(Display& display, const std::vector<xcb_window_t>& windows)
{
    auto shown = currentDesktop(display);
    const auto desktops = desktopsOf(display, windows);
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const auto desktop = desktops[i];
        if (shown && desktop && *desktop != kOnAllDesktops && *desktop != *shown) {
            xcb_ewmh_request_change_current_desktop(display.ewmh(), display.screen(), *desktop, XCB_CURRENT_TIME);
            shown = desktop;
        }
        askWindowManagerToActivate(display, windows[i]);
    }
}

// With nobody managing windows, raising and focusing is all activation is.
void activateUnmanaged(Display& display, xcb_window_t window)
{
    if (!canTakeFocus(display, window))
        return;
    raise(display, window);
    xcb_set_input_focus(display.connection(), XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
}

// The requests are unchecked; a window that vanished meanwhile only earns an
// error event nobody reads. The round trip makes sure the server has taken
// them before the connection closes.
void waitUntilProcessed(Display& display)
{
    owned(xcb_get_input_focus_reply(display.connection(), xcb_get_input_focus(display.connection()), nullptr));
}

// False when the process shows no window yet.
bool activateShownWindows(Display& display, ProcessID process)
{
    const bool managed = windowManagerRuns(display);
    const auto windows = windowsOwnedBy(display, topLevelWindows(display, managed), process);
    if (managed)
        activateManaged(display, windows);
    else
        std::ranges::for_each(windows, [&](xcb_window_t window) { activateUnmanaged(display, window); });
    if (windows.empty())
        return false;
    waitUntilProcessed(display);
    return true;
}

constexpr auto kWaitForFirstWindow = std::chrono::seconds(10);
constexpr auto kLookAgainAfter = std::chrono::milliseconds(100);

bool hasEnded(ProcessID process) { return kill(process, 0) != 0 && errno == ESRCH; }

// A program that was just started is listed as running well before it maps
// its first window; activating it then would be lost. Its windows are
// activated once they show, as an application still launching is activated
// once it has launched. Bounded, so that a program that never shows a window
// costs no more than one idle look now and then for a while.
void activateOnceShown(ProcessID process)
{
    Display display;
    if (!display.ready())
        return;
    const auto deadline = std::chrono::steady_clock::now() + kWaitForFirstWindow;
    while (std::chrono::steady_clock::now() < deadline && !hasEnded(process)) {
        std::this_thread::sleep_for(kLookAgainAfter);
        if (activateShownWindows(display, process))
            return;
    }
}

constexpr std::size_t kMostWindowWatchers = 4;

// Never destroyed: a watcher may still be running when exit() runs the
// destructors of statics.
WindowWatcherSlots& windowWatchers()
{
    static auto* slots = new WindowWatcherSlots(kMostWindowWatchers);
    return *slots;
}

// The caller does not wait for windows to show: it serves every client from
// one thread. A process already watched is activated by its watcher; a
// request beyond the bound goes the way of a refused one.
void activateInBackgroundOnceShown(ProcessID process)
{
    if (!windowWatchers().take(process))
        return;
    try {
        std::thread([process] {
            giveThreadASignalStack();
            activateOnceShown(process);
            windowWatchers().release(process);
        }).detach();
    } catch (const std::system_error&) {
        windowWatchers().release(process);
    }
}

} // namespace

void activateWindowsOfProcess(ProcessID process)
{
    Display display;
    if (!display.ready())
        return;
    if (!activateShownWindows(display, process))
        activateInBackgroundOnceShown(process);
}

} // namespace platform::x11
