#include "platform/linux/windows/x11_window_activation.h"
#include "platform/linux_platform.h"
#include "support/xvfb.h"
#include "unit/platform/platform_test_support.h"

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace platform {
namespace {

using testing::ChildProcess;
using namespace std::chrono_literals;

constexpr std::uint32_t kQuit = 0x71756974;
constexpr std::uint32_t kOpen = 0x6f617070;
constexpr std::uint32_t kReopen = 0x72617070;
constexpr std::uint32_t kSleep = 0x736c6570;

bool endedBySignal(std::optional<int> status, int signal)
{
    return status && WIFSIGNALED(*status) && WTERMSIG(*status) == signal;
}

class ApplicationSignals : public ::testing::Test {
protected:
    std::unique_ptr<ApplicationControl> control = makeApplicationControl(x11::activateWindowsOfProcess);
};

TEST_F(ApplicationSignals, TerminateAndQuitEventAskTheProcessToEnd)
{
    ChildProcess terminated("/bin/sleep", { "30" });
    ChildProcess quit("/bin/sleep", { "30" });

    control->terminate(terminated.pid());
    EXPECT_EQ(control->sendCoreEvent(kQuit, quit.pid()), ApplicationControl::CoreEvent::Sent);

    EXPECT_TRUE(endedBySignal(terminated.reapWithin(5s), SIGTERM));
    EXPECT_TRUE(endedBySignal(quit.reapWithin(5s), SIGTERM));
}

TEST_F(ApplicationSignals, OtherEventsLeaveTheProcessAlone)
{
    ChildProcess child("/bin/sleep", { "30" });
    EXPECT_EQ(control->sendCoreEvent(kSleep, child.pid()), ApplicationControl::CoreEvent::CannotBeBuilt);
    EXPECT_EQ(control->sendCoreEvent(0, child.pid()), ApplicationControl::CoreEvent::CannotBeBuilt);
    // Activation without windows to show changes nothing either.
    EXPECT_EQ(control->sendCoreEvent(kOpen, child.pid()), ApplicationControl::CoreEvent::Sent);
    EXPECT_EQ(control->sendCoreEvent(kReopen, child.pid()), ApplicationControl::CoreEvent::Sent);
    EXPECT_FALSE(child.reapWithin(200ms));
}

// What an X client sees of the display: windows, their owners, focus and
// stacking.
class DisplayObserver {
public:
    explicit DisplayObserver(const std::string& display)
        : m_connection(xcb_connect(display.c_str(), nullptr))
        , m_root(xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root)
    {
    }
    ~DisplayObserver() { xcb_disconnect(m_connection); }

    xcb_connection_t* connection() const { return m_connection; }
    xcb_window_t root() const { return m_root; }

    xcb_atom_t atom(const char* name) const
    {
        auto reply = take(xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, std::strlen(name), name), nullptr));
        return reply ? reply->atom : XCB_NONE;
    }

    // The root's children, bottom to top.
    std::vector<xcb_window_t> stacking() const
    {
        auto tree = take(xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr));
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        return { children, children + xcb_query_tree_children_length(tree.get()) };
    }

    std::optional<xcb_window_t> viewableWindowOf(pid_t pid) const
    {
        for (const xcb_window_t window : stacking()) {
            auto attributes = take(xcb_get_window_attributes_reply(m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
            auto owner = take(xcb_get_property_reply(m_connection,
                xcb_get_property(m_connection, 0, window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 0, 1), nullptr));
            if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && owner
                && xcb_get_property_value_length(owner.get()) == 4
                && *static_cast<std::uint32_t*>(xcb_get_property_value(owner.get())) == static_cast<std::uint32_t>(pid))
                return window;
        }
        return std::nullopt;
    }

    xcb_window_t focus() const
    {
        return take(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr))->focus;
    }

    void setWindowProperty(xcb_window_t window, const char* name, std::vector<xcb_window_t> values) const
    {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, atom(name), XCB_ATOM_WINDOW, 32,
            static_cast<std::uint32_t>(values.size()), values.data());
    }

    // Waits for the next event of `type` (errors are skipped).
    std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> nextEvent(std::uint8_t type) const
    {
        xcb_flush(m_connection);
        std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(nullptr, &std::free);
        testing::eventually([&] {
            event.reset(xcb_poll_for_event(m_connection));
            return event && (event->response_type & 0x7f) == type;
        },
            5s);
        return event;
    }

private:
    template<typename Reply>
    static std::unique_ptr<Reply, decltype(&std::free)> take(Reply* reply)
    {
        return { reply, &std::free };
    }

    xcb_connection_t* m_connection;
    xcb_window_t m_root;
};

class WindowActivation : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!display.name())
            GTEST_FAIL() << "Xvfb could not start";
        setenv("DISPLAY", display.name()->c_str(), 1);
        observer = std::make_unique<DisplayObserver>(*display.name());
        std::filesystem::copy_file(STAND_IN_APPLICATION, folder / "stand-in");
        first = showWindow();
        second = showWindow();
    }
    void TearDown() override { unsetenv("DISPLAY"); }

    struct Shown {
        std::unique_ptr<ChildProcess> process;
        xcb_window_t window { XCB_NONE };
    };

    Shown showWindow()
    {
        Shown shown { std::make_unique<ChildProcess>(folder / "stand-in", std::vector<std::string> {}), XCB_NONE };
        EXPECT_TRUE(testing::eventually([&] {
            shown.window = observer->viewableWindowOf(shown.process->pid()).value_or(XCB_NONE);
            return shown.window != XCB_NONE;
        }));
        return shown;
    }

    testing_support::VirtualDisplay display;
    std::unique_ptr<DisplayObserver> observer;
    testing::TemporaryDirectory folder;
    std::unique_ptr<ApplicationControl> control = makeApplicationControl(x11::activateWindowsOfProcess);
    Shown first;
    Shown second;
};

TEST_F(WindowActivation, WithoutWindowManagerRaisesAndFocusesTheProcessWindow)
{
    ASSERT_EQ(observer->stacking().back(), second.window);

    control->activateWithAllWindows(first.process->pid());
    EXPECT_EQ(observer->stacking().back(), first.window);
    EXPECT_EQ(observer->focus(), first.window);

    EXPECT_EQ(control->sendCoreEvent(kReopen, second.process->pid()), ApplicationControl::CoreEvent::Sent);
    EXPECT_EQ(observer->stacking().back(), second.window);
    EXPECT_EQ(observer->focus(), second.window);
}

// The test plays the window manager: it owns the check window, lists the
// clients and, holding substructure redirection on the root, receives the
// requests a real manager would act on.
TEST_F(WindowActivation, UnderWindowManagerAsksItToActivateTheProcessWindows)
{
    auto* connection = observer->connection();
    const xcb_window_t check = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, check, observer->root(), 0, 0, 1, 1, 0,
        XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    observer->setWindowProperty(check, "_NET_SUPPORTING_WM_CHECK", { check });
    observer->setWindowProperty(observer->root(), "_NET_SUPPORTING_WM_CHECK", { check });
    observer->setWindowProperty(observer->root(), "_NET_CLIENT_LIST", { first.window, second.window });
    const std::uint32_t redirect = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
    xcb_change_window_attributes(connection, observer->root(), XCB_CW_EVENT_MASK, &redirect);
    xcb_flush(connection);

    control->activateWithAllWindows(first.process->pid());

    auto message = observer->nextEvent(XCB_CLIENT_MESSAGE);
    ASSERT_TRUE(message);
    auto* request = reinterpret_cast<xcb_client_message_event_t*>(message.get());
    EXPECT_EQ(request->type, observer->atom("_NET_ACTIVE_WINDOW"));
    EXPECT_EQ(request->window, first.window);
    EXPECT_EQ(request->data.data32[0], 2u) << "on the user's behalf";
    auto configure = observer->nextEvent(XCB_CONFIGURE_REQUEST);
    ASSERT_TRUE(configure);
    auto* raise = reinterpret_cast<xcb_configure_request_event_t*>(configure.get());
    EXPECT_EQ(raise->window, first.window);
    EXPECT_EQ(raise->stack_mode, XCB_STACK_MODE_ABOVE);
    // Focus is the manager's to give.
    EXPECT_NE(observer->focus(), first.window);
}

TEST_F(WindowActivation, ProgramStillStartingIsActivatedOnceItsWindowShows)
{
    ChildProcess starting(folder / "stand-in", { "--window-after=700" });
    control->activateWithAllWindows(starting.pid());
    std::optional<xcb_window_t> window;
    EXPECT_TRUE(testing::eventually([&] { return (window = observer->viewableWindowOf(starting.pid())).has_value(); }, 3s));
    EXPECT_TRUE(testing::eventually([&] { return observer->focus() == window; }, 3s));
}

TEST_F(WindowActivation, WithoutDisplayNothingHappens)
{
    setenv("DISPLAY", ":none", 1);
    control->activateWithAllWindows(first.process->pid());
    unsetenv("DISPLAY");
    control->activateWithAllWindows(first.process->pid());
    EXPECT_EQ(observer->stacking().back(), second.window);
    EXPECT_NE(observer->focus(), first.window);
}

} // namespace
} // namespace platform
