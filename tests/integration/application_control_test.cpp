// Application control and the media player rows against the real helper,
// with real processes under chosen names and a virtual display.
#include "integration/helper_harness.h"
#include "support/stand_in_player.h"
#include "support/window_manager.h"
#include "support/xvfb.h"
#include "unit/platform/platform_test_support.h"

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <cstring>
#include <sched.h>
#include <sys/mount.h>

namespace {

using namespace harness;
using platform::testing::ChildProcess;
using platform::testing::eventually;
using platform::testing::TemporaryDirectory;

bool endedBySignal(std::optional<int> status, int signal)
{
    return status && WIFSIGNALED(*status) && WTERMSIG(*status) == signal;
}

class ApplicationRows : public testing::Test, protected HelperSession {
protected:
    // Starts the helper; a test that needs a display sets DISPLAY before.
    Client connected()
    {
        start();
        return std::move(m_client);
    }

    // A running application whose display name is `name`: the stand-in,
    // saved under that file name.
    std::unique_ptr<ChildProcess> startApplication(const std::string& name, const std::vector<std::string>& arguments = {})
    {
        const auto executable = m_folder.path() / name;
        if (!std::filesystem::exists(executable))
            std::filesystem::copy_file(STAND_IN_APPLICATION, executable);
        return std::make_unique<ChildProcess>(executable.string(), arguments);
    }

    // The reply to one command line.
    std::string ask(Client& client, const std::string& line, Clock::duration limit = 5s)
    {
        client.send(line + "\n");
        return client.readLine(limit).value_or("<no reply>");
    }

    TemporaryDirectory m_folder;
};

TEST_F(ApplicationRows, QuitEventReachesEveryApplicationOfTheName)
{
    auto first = startApplication("Shared App");
    auto second = startApplication("Shared App");
    auto otherCase = startApplication("shared app");
    auto client = connected();

    EXPECT_EQ(ask(client, "SendAppleEvent 1903520116,\"Shared App\""), "1");
    EXPECT_TRUE(endedBySignal(first->reapWithin(5s), SIGTERM));
    EXPECT_TRUE(endedBySignal(second->reapWithin(5s), SIGTERM));
    EXPECT_FALSE(otherCase->reapWithin(100ms));

    EXPECT_EQ(ask(client, "SendAppleEvent 1903520116,\"Shared App\""), "0");
    // An event with no counterpart here still finds the application.
    EXPECT_EQ(ask(client, "SendAppleEvent 1936483696,\"shared app\""), "1");
    EXPECT_FALSE(otherCase->reapWithin(100ms));
}

TEST_F(ApplicationRows, TerminateEndsOnlyTheFirstApplicationOfTheName)
{
    auto first = startApplication("Shared App");
    auto second = startApplication("Shared App");
    ASSERT_LT(first->pid(), second->pid()) << "the list runs in process order";
    auto client = connected();

    EXPECT_EQ(ask(client, "terminateProcessNamed \"shared app\""), "0");
    EXPECT_EQ(ask(client, "terminateProcessNamed \"Shared App\""), "1");
    EXPECT_TRUE(endedBySignal(first->reapWithin(5s), SIGTERM));
    EXPECT_FALSE(second->reapWithin(200ms));
    EXPECT_EQ(ask(client, "terminateProcessNamed 7"), "0");
    EXPECT_FALSE(second->reapWithin(100ms));
}

class ApplicationRowsOnDisplay : public ApplicationRows {
protected:
    void SetUp() override
    {
        if (!m_display.name())
            GTEST_FAIL() << "Xvfb could not start";
        setenv("DISPLAY", m_display.name()->c_str(), 1);
    }
    void TearDown() override { unsetenv("DISPLAY"); }

    xcb_window_t focus() const
    {
        xcb_connection_t* connection = xcb_connect(m_display.name()->c_str(), nullptr);
        auto* reply = xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
        const xcb_window_t window = reply ? reply->focus : XCB_NONE;
        std::free(reply);
        xcb_disconnect(connection);
        return window;
    }

    // The owner named by a window's _NET_WM_PID, if it has one.
    std::optional<pid_t> ownerOfFocus() const
    {
        xcb_connection_t* connection = xcb_connect(m_display.name()->c_str(), nullptr);
        const char name[] = "_NET_WM_PID";
        auto* atom = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof name - 1, name), nullptr);
        std::optional<pid_t> owner;
        if (atom && atom->atom != XCB_NONE) {
            auto* property = xcb_get_property_reply(connection,
                xcb_get_property(connection, 0, focus(), atom->atom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
            if (property && xcb_get_property_value_length(property) == 4)
                owner = static_cast<pid_t>(*static_cast<std::uint32_t*>(xcb_get_property_value(property)));
            std::free(property);
        }
        std::free(atom);
        xcb_disconnect(connection);
        return owner;
    }

    testing_support::VirtualDisplay m_display;
};

TEST_F(ApplicationRowsOnDisplay, MakeFrontActivatesAnApplicationThatStartsTwoSecondsLater)
{
    auto other = startApplication("Other App");
    auto client = connected();
    client.send("makeFrontProcessNamed \"Late App\"\n");
    std::this_thread::sleep_for(2s);
    auto late = startApplication("Late App");

    EXPECT_EQ(client.readLine(5s), "1");
    EXPECT_TRUE(eventually([&] { return ownerOfFocus() == late->pid(); }, 3s));

    EXPECT_EQ(ask(client, "makeFrontProcessNamed \"Other App\""), "1");
    EXPECT_TRUE(eventually([&] { return ownerOfFocus() == other->pid(); }, 3s));
}

// Window managers from the distribution, with the desktops they keep by
// default (more than one), where activation has to do what pagers do.
class ApplicationRowsUnderWindowManager : public ApplicationRowsOnDisplay,
                                          public testing::WithParamInterface<const char*> {
protected:
    void SetUp() override
    {
        ApplicationRowsOnDisplay::SetUp();
        m_manager.emplace(GetParam(), *m_display.name());
        if (!m_manager->ready())
            GTEST_FAIL() << GetParam() << " did not take over the display";
    }

    // The windows of `application` once the manager has taken them all on.
    std::vector<xcb_window_t> managedWindows(const ChildProcess& application, std::size_t count)
    {
        std::vector<xcb_window_t> windows;
        EXPECT_TRUE(eventually([&] { return (windows = m_pager.windowsOf(application.pid())).size() == count; }, 5s));
        return windows;
    }

    std::ptrdiff_t stackingIndex(xcb_window_t window)
    {
        const auto stacking = m_pager.stacking();
        return std::find(stacking.begin(), stacking.end(), window) - stacking.begin();
    }

    std::optional<testing_support::WindowManager> m_manager;
    testing_support::Pager m_pager { *m_display.name() };
};

TEST_P(ApplicationRowsUnderWindowManager, MakeFrontGoesToTheDesktopOfTheWindow)
{
    auto away = startApplication("Away App");
    const auto windows = managedWindows(*away, 1);
    ASSERT_EQ(windows.size(), 1u);
    m_pager.moveToDesktop(windows[0], 1);
    ASSERT_TRUE(eventually([&] { return m_pager.desktopOf(windows[0]) == 1u; }, 3s));
    ASSERT_EQ(m_pager.currentDesktop(), 0u);
    auto client = connected();

    EXPECT_EQ(ask(client, "makeFrontProcessNamed \"Away App\""), "1");
    EXPECT_TRUE(eventually([&] { return m_pager.currentDesktop() == 1u && m_pager.activeWindow() == windows[0]; }, 3s))
        << "on desktop " << m_pager.currentDesktop().value_or(99) << ", active " << m_pager.activeWindow();
}

TEST_P(ApplicationRowsUnderWindowManager, MakeFrontLeavesTheLastUsedWindowOnTop)
{
    auto application = startApplication("Two Windows", { "--windows=2" });
    const auto windows = managedWindows(*application, 2);
    ASSERT_EQ(windows.size(), 2u);
    auto other = startApplication("Other App");
    const auto otherWindows = managedWindows(*other, 1);
    ASSERT_EQ(otherWindows.size(), 1u);
    // The user worked in the older window last, then went to another application.
    // Asked again until it takes: a manager still settling a window it has
    // just taken on may pass over the first request, as a user would click again.
    for (const xcb_window_t window : { windows[0], otherWindows[0] }) {
        ASSERT_TRUE(eventually([&] { return m_pager.activate(window), m_pager.activeWindow() == window; }, 3s, 100ms));
    }
    auto client = connected();

    EXPECT_EQ(ask(client, "makeFrontProcessNamed \"Two Windows\""), "1");
    EXPECT_TRUE(eventually([&] {
        return m_pager.activeWindow() == windows[0] && stackingIndex(otherWindows[0]) < stackingIndex(windows[1]);
    },
        3s))
        << "active " << m_pager.activeWindow() << " of " << windows[0] << ", " << windows[1];
    EXPECT_LT(stackingIndex(windows[1]), stackingIndex(windows[0]));
}

// A sandboxed application runs in a PID namespace of its own (bubblewrap is
// what Flatpak runs it in), so its window's _NET_WM_PID counts there: 2, the
// first process after the sandbox's own init, names no process out here.
TEST_P(ApplicationRowsUnderWindowManager, MakeFrontRaisesAnApplicationInAPidNamespace)
{
    const auto executable = m_folder.path() / "Sandboxed App";
    std::filesystem::copy_file(STAND_IN_APPLICATION, executable);
    ChildProcess sandbox("/usr/bin/bwrap", { "--dev-bind", "/", "/", "--unshare-pid", "--die-with-parent", executable.string() });
    std::vector<xcb_window_t> windows;
    if (!eventually([&] { return !(windows = m_pager.windowsOf(2)).empty(); }, 5s))
        GTEST_SKIP() << "bubblewrap could not make a PID namespace here";
    auto other = startApplication("Other App");
    const auto otherWindows = managedWindows(*other, 1);
    ASSERT_EQ(otherWindows.size(), 1u);
    ASSERT_TRUE(eventually([&] { return m_pager.activate(otherWindows[0]), m_pager.activeWindow() == otherWindows[0]; }, 3s, 100ms));
    auto client = connected();

    EXPECT_EQ(ask(client, "makeFrontProcessNamed \"Sandboxed App\""), "1");
    EXPECT_TRUE(eventually([&] { return m_pager.activeWindow() == windows[0]; }, 3s))
        << "active " << m_pager.activeWindow() << ", sandboxed " << windows[0];
}

INSTANTIATE_TEST_SUITE_P(RealManagers, ApplicationRowsUnderWindowManager, testing::Values("openbox", "metacity"));

class MediaPlayerRows : public ApplicationRows {
protected:
    static constexpr const char* kPlayer = testing_support::StandInPlayer::kProgram;

    void SetUp() override
    {
        if (m_player.refusal())
            GTEST_SKIP() << *m_player.refusal();
    }

    void installStandIn() { m_player.install(); }
    std::vector<std::string> awaitLaunch(std::size_t count) { return m_player.awaitLaunch(count); }
    std::size_t launchCount() const { return m_player.launches().size(); }

    testing_support::StandInPlayer m_player;
};

TEST_F(MediaPlayerRows, NoPlayerAnswersZeroAtOnceAndKeepsServing)
{
    auto client = connected();
    EXPECT_EQ(ask(client, "detectVLCAvailable"), "0");
    const auto asked = Clock::now();
    EXPECT_EQ(ask(client, "launchVLCPreview \"/tmp/movie.avi\""), "0");
    EXPECT_LT(Clock::now() - asked, 1s);

    std::filesystem::create_directory(kPlayer);
    EXPECT_EQ(ask(client, "detectVLCAvailable"), "0");
    EXPECT_EQ(ask(client, "launchVLCPreview \"/tmp/movie.avi\""), "0");
    EXPECT_EQ(ask(client, "version"), "\"" + m_bundle.shortVersion() + "\"");
}

TEST_F(MediaPlayerRows, StartsAPlayerPerRequestWithTheFileAsOneArgument)
{
    installStandIn();
    auto client = connected();
    EXPECT_EQ(ask(client, "detectVLCAvailable"), "1");

    EXPECT_EQ(ask(client, "launchVLCPreview \"/tmp/My  Movie (1).avi\"", 8s), "1");
    EXPECT_EQ(awaitLaunch(1), (std::vector<std::string> { "--avi-index=2", "/tmp/My  Movie (1).avi" }));

    EXPECT_EQ(ask(client, "launchVLCPreview \"-x\"", 8s), "1");
    EXPECT_EQ(awaitLaunch(2), (std::vector<std::string> { "--avi-index=2", "./-x" }));

    EXPECT_EQ(ask(client, "launchVLCPreview 3"), "0");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(launchCount(), 2u);
}

} // namespace
