// Raising windows on a Wayland desktop, against the real compositor: a
// native Wayland window and an Xwayland one of a process, each taken out of
// focus first, then raised the way makeFrontProcessNamed raises them.
#include "support/scoped_environment.h"
#include "support/sway_session.h"

#include "platform/linux_platform.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using testing_support::eventually;

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
        platform::activateWindowsOfProcess(process);
        EXPECT_TRUE(eventually([&] { return sway.windowProcess("focused") == process; }, 5s)) << name;
    }
}

} // namespace
