#include "installer_test_support.h"

#include "platform/linux_platform.h"
#include "platform/process_termination.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace installer {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::InstallerUnderTest;
using testing::ScopedEnvironment;
using testing::TemporaryDirectory;

class StateDisplay : public ::testing::Test {
protected:
    fs::path installFolder() const { return installer.dataHome / "Ferrowind Helper"; }

    // A helper process started from a copy outside the install folder, as
    // the one inside the main application would be.
    std::unique_ptr<ChildProcess> startHelperElsewhere()
    {
        const auto bundle = testing::makeHelperBundle(elsewhere.path());
        auto helper = std::make_unique<ChildProcess>(bundle + "/Contents/MacOS/sleeper", std::vector<std::string> { "30" });
        // The listing reads /proc; wait until the child runs the copy rather
        // than the test's own image it was forked from.
        const bool listed = platform::testing::eventually([&] {
            for (const auto& application : running->list()) {
                if (application.processIdentifier == helper->pid() && application.bundleIdentifier)
                    return true;
            }
            return false;
        });
        EXPECT_TRUE(listed);
        return helper;
    }

    void expectInstallEnabled(bool install)
    {
        EXPECT_EQ(installer.controller.installButton->isEnabled(), install);
        EXPECT_EQ(installer.controller.uninstallButton->isEnabled(), !install);
        EXPECT_EQ(installer.controller.statusLabel->text().toStdString(),
            install ? "Not running" : "Installed and running");
    }

    std::unique_ptr<platform::RunningApplications> running = platform::makeRunningApplications();
    InstallerUnderTest installer { *running };
    TemporaryDirectory elsewhere;
};

TEST_F(StateDisplay, HelperRunningWithoutInstalledCopyOffersInstall)
{
    const auto helper = startHelperElsewhere();
    installer.controller.applicationDidFinishLaunching();
    expectInstallEnabled(true);
}

TEST_F(StateDisplay, InstalledAndRunningOffersUninstall)
{
    testing::makeHelperBundle(installFolder());
    const auto helper = startHelperElsewhere();
    installer.controller.updateUI();
    expectInstallEnabled(false);

    // Nothing refreshes the display but the next updateUI.
    fs::remove_all(installFolder());
    expectInstallEnabled(false);
    installer.controller.updateUI();
    expectInstallEnabled(true);
}

TEST_F(StateDisplay, AnyFileAtTheInstalledPathCounts)
{
    fs::create_directories(installFolder());
    platform::testing::writeTextFile((installFolder() / "Ferrowind Helper.app").string(), "");
    const auto helper = startHelperElsewhere();
    installer.controller.updateUI();
    expectInstallEnabled(false);
}

// Helpers of other test runs may be up on this machine at any moment, so the
// case without a helper process lists a fixed set of applications.
TEST(StateDisplayWithoutHelper, InstalledButNotRunningOffersInstall)
{
    testing::FakeRunningApplications running;
    running.applications = { { "Ferrowind Helper Installer", 10, "com.Ferrowind.Ferrowind-Helper-Installer" },
        { "Ferrowind Helper", 11, std::nullopt },
        { "Other", 12, "com.ferrowind.ferrowind-helper" } };
    InstallerUnderTest installer(running);
    testing::makeHelperBundle(installer.dataHome / "Ferrowind Helper");

    installer.controller.updateUI();
    EXPECT_TRUE(installer.controller.installButton->isEnabled());
    EXPECT_FALSE(installer.controller.uninstallButton->isEnabled());

    running.applications.push_back({ "Renamed", 13, "com.Ferrowind.Ferrowind-Helper" });
    installer.controller.updateUI();
    EXPECT_FALSE(installer.controller.installButton->isEnabled());
    EXPECT_TRUE(installer.controller.uninstallButton->isEnabled());
}

TEST(HelperInstallFolder, FollowsTheUsersDataDirectory)
{
    testing::FakeRunningApplications running;
    const auto workspace = platform::makeWorkspace(running, {});
    const auto launcher = platform::makeProcessLauncher();
    const auto termination = platform::makeProcessTermination();
    const AppDelegate controller({ running, *workspace, *launcher, *termination, platform::openLoginItems, {} }, {});

    {
        ScopedEnvironment dataHome("XDG_DATA_HOME", "/data/home");
        ScopedEnvironment home("HOME", "/home/someone");
        EXPECT_EQ(controller.helperApplicationLocation(), QStringLiteral("/data/home/Ferrowind Helper"));
    }
    {
        ScopedEnvironment dataHome("XDG_DATA_HOME", std::nullopt);
        ScopedEnvironment home("HOME", "/home/someone");
        EXPECT_EQ(controller.helperApplicationLocation(),
            QStringLiteral("/home/someone/.local/share/Ferrowind Helper"));
    }
    {
        ScopedEnvironment dataHome("XDG_DATA_HOME", "relative/data");
        ScopedEnvironment home("HOME", "/home/someone");
        EXPECT_EQ(controller.helperApplicationLocation(),
            QStringLiteral("/home/someone/.local/share/Ferrowind Helper"));
    }
}

} // namespace
} // namespace installer
