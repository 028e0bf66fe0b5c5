// The controller's login-item operations on the user's real autostart folder
// (a scratch one here).
#include "installer_test_support.h"

#include "platform/login_items.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

namespace fs = std::filesystem;
using testing::InstallerUnderTest;
using testing::ScopedEnvironment;

TEST(ControllerLoginItems, RegisterQueryAndRemoveTheInstalledHelper)
{
    testing::FakeRunningApplications running;
    InstallerUnderTest installer { running };
    ScopedEnvironment configHome { "XDG_CONFIG_HOME", (installer.home.path() / "config").string() };
    const auto bundle = testing::makeHelperBundle(installer.dataHome / "Ferrowind Helper");
    const auto url = platform::fileURLForPath(bundle);
    auto& controller = installer.controller;

    EXPECT_FALSE(controller.loginItemRegisteredForURL(url));
    EXPECT_TRUE(controller.enableLoginItemWithURL(url));
    EXPECT_TRUE(controller.enableLoginItemWithURL(url));
    EXPECT_TRUE(controller.loginItemRegisteredForURL(url));
    EXPECT_EQ(std::distance(fs::directory_iterator(installer.home.path() / "config/autostart"), fs::directory_iterator()), 2);

    EXPECT_TRUE(controller.disableLoginItemWithURL(url));
    EXPECT_FALSE(controller.loginItemRegisteredForURL(url));
    EXPECT_FALSE(controller.disableLoginItemWithURL(url));
    EXPECT_TRUE(fs::is_empty(installer.home.path() / "config/autostart"));
}

} // namespace
} // namespace installer
