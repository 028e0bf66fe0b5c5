// Raising windows on a Wayland desktop, against the real compositor: a
// native Wayland window and an Xwayland one of a process, each taken out of
// focus first, then raised the way makeFrontProcessNamed raises them.
#include "integration/dbus_mock_harness.h"
#include "integration/helper_harness.h"
#include "support/gnome_shell_session.h"
#include "support/kwin_session.h"
#include "support/scoped_environment.h"
#include "support/sway_session.h"

#include "platform/linux_platform.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testing_support::eventually;

// What the helper's desktop activation says when a desktop's own way fails.
class RecordedLog final : public platform::SystemLog {
public:
    void write(std::string_view line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

// Raises the windows of a process as makeFrontProcessNamed does.
void activate(pid_t process)
{
    static RecordedLog log;
    static auto activation = platform::makeWindowActivation(log);
    activation(process);
}

TEST(CompositorActivation, SwayFocusesNativeAndXwaylandWindowsOfTheProcess)
{
    testing_support::SwaySession sway;
    if (!sway.socket())
        GTEST_SKIP() << "sway did not start here (installed? user namespaces?)";
    ASSERT_TRUE(sway.command("exec /usr/bin/foot --app-id=ferrowind-native sleep 60"));
    ASSERT_TRUE(sway.command("exec " STAND_IN_APPLICATION));
    ASSERT_TRUE(sway.command("exec /usr/bin/foot --app-id=ferrowind-other sleep 60"));
    std::optional<pid_t> native, xwayland, other;
    ASSERT_TRUE(eventually([&] {
        native = sway.windowProcess("app_id", "ferrowind-native");
        xwayland = sway.windowProcess("shell", "xwayland");
        other = sway.windowProcess("app_id", "ferrowind-other");
        return native && xwayland && other;
    },
        20s))
        << "the windows did not show up";

    testing_support::ScopedEnvironment session("SWAYSOCK", *sway.socket());
    for (auto [name, process] : { std::pair { "native", *native }, std::pair { "Xwayland", *xwayland } }) {
        ASSERT_TRUE(sway.command("[app_id=ferrowind-other] focus"));
        ASSERT_TRUE(eventually([&] { return sway.windowProcess("focused") == other; }, 5s));
        activate(process);
        EXPECT_TRUE(eventually([&] { return sway.windowProcess("focused") == process; }, 5s)) << name;
    }

    // And as a client asks the helper of this session, by name.
    ASSERT_TRUE(sway.command("[app_id=ferrowind-other] focus"));
    harness::HelperBundleCopy bundle;
    harness::HelperProcess helper(bundle, std::nullopt, { { "SWAYSOCK", *sway.socket() } });
    auto client = harness::greetedClient();
    ASSERT_TRUE(client);
    EXPECT_EQ(client->ask("makeFrontProcessNamed \"stand_in_application\"\n", 10s), "1");
    EXPECT_TRUE(eventually([&] { return sway.windowProcess("focused") == xwayland; }, 5s)) << "over the wire";
}

// Starts a native and an Xwayland window in the session and raises each in
// turn, the other one raised first; `focused` reads the focused window's
// process back from the compositor.
// `raise` asks for a process's windows to be raised, the platform's own way
// unless given.
void expectEachRaisedInTurn(const testing_support::Environment& client, const std::function<std::optional<pid_t>()>& focused,
    const std::function<void(pid_t)>& raise = activate)
{
    // The installer stands in for any Qt application. Built with a sanitizer
    // it would stop at what that finds in Qt's own Wayland code, which is
    // not built with it.
    auto nativeEnvironment = client;
    nativeEnvironment.insert(nativeEnvironment.end(), { { "TSAN_OPTIONS", "report_bugs=0" }, { "ASAN_OPTIONS", "detect_leaks=0" } });
    testing_support::ChildProcess native(INSTALLER_PROGRAM, {}, { nativeEnvironment, { { 2, "/dev/null" } } });
    testing_support::ChildProcess xwayland(STAND_IN_APPLICATION, {}, { client });
    const auto raises = [&](pid_t process) {
        raise(process);
        return eventually([&] { return focused() == process; }, 3s);
    };
    // Each window is there once it can be raised.
    ASSERT_TRUE(eventually([&] { return raises(native.pid()); }, 20s)) << "no native window";
    ASSERT_TRUE(eventually([&] { return raises(xwayland.pid()); }, 20s)) << "no Xwayland window";
    for (auto [name, process, other] : { std::tuple { "native", native.pid(), xwayland.pid() }, std::tuple { "Xwayland", xwayland.pid(), native.pid() } }) {
        ASSERT_TRUE(raises(other)) << name;
        EXPECT_TRUE(raises(process)) << name;
    }
}

TEST(CompositorActivation, KWinActivatesNativeAndXwaylandWindowsOfTheProcess)
{
    testing_support::KWinSession kwin;
    if (!kwin.ready())
        GTEST_SKIP() << "KWin did not start here (installed?)";
    testing_support::ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", kwin.busAddress());
    testing_support::ScopedEnvironment noDisplay("DISPLAY", std::nullopt);
    expectEachRaisedInTurn(kwin.environment(), [&] { return kwin.activeWindowProcess(); });
}

// A KWin that answers each call just within the bound: the request as a
// whole is held to about one bound, not one per call.
TEST(CompositorActivation, KWinAnsweringEachCallLateHoldsTheRequestForOneBound)
{
    harness::PrivateBus session;
    harness::DBusMock kwin(session, harness::DBusMock::Bus::Session, "org.kde.KWin",
        { "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting" });
    const std::string late = "time.sleep(2.5); ";
    for (auto [method, in, out, result] : { std::tuple { "loadScript", "ss", "i", "ret = 1" }, std::tuple { "unloadScript", "s", "b", "ret = True" } })
        session.call("org.kde.KWin", "/Scripting", harness::kMockInterface, "AddMethod",
            g_variant_new("(sssss)", "org.kde.kwin.Scripting", method, in, out, (late + result).c_str()));
    GVariantBuilder methods;
    g_variant_builder_init(&methods, G_VARIANT_TYPE("a(ssss)"));
    g_variant_builder_add(&methods, "(ssss)", "run", "", "", late.c_str());
    session.call("org.kde.KWin", "/Scripting", harness::kMockInterface, "AddObject",
        g_variant_new("(ssa{sv}a(ssss))", "/Scripting/Script1", "org.kde.kwin.Script", nullptr, &methods));

    testing_support::ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", session.address());
    testing_support::ScopedEnvironment noDisplay("DISPLAY", std::nullopt);
    RecordedLog log;
    auto activation = platform::makeWindowActivation(log);
    const auto start = std::chrono::steady_clock::now();
    activation(getpid());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(CompositorActivation, GnomeShellActivatesNativeAndXwaylandWindowsThroughTheExtension)
{
    if (!std::filesystem::exists("/usr/bin/gnome-shell") || getpid() != 1)
        GTEST_SKIP() << "needs GNOME Shell, and PID and mount namespaces of the test's own";
    testing_support::GnomeShellSession shell(HELPER_BUNDLE_DIR);
    ASSERT_TRUE(shell.extensionInstalled());
    ASSERT_TRUE(shell.ready()) << "GNOME Shell did not load the extension; see " << shell.log();
    // The Shell raises windows for the helper alone: the test asks it by the
    // applications' names, which are their executables' here.
    harness::HelperBundleCopy bundle;
    harness::HelperProcess helper(bundle);
    auto client = harness::greetedClient();
    ASSERT_TRUE(client);
    const auto byName = [&](pid_t process) {
        const auto name = std::filesystem::path(std::filesystem::read_symlink("/proc/" + std::to_string(process) + "/exe")).filename().string();
        client->ask("makeFrontProcessNamed \"" + name + "\"\n", 10s);
    };
    expectEachRaisedInTurn(
        shell.clientEnvironment(), [&] { return shell.focusedProcess(); }, byName);
    // Any other client of the session bus is refused.
    EXPECT_EQ(shell.focusedProcess("/usr/bin/gdbus"), std::nullopt);
}

} // namespace
