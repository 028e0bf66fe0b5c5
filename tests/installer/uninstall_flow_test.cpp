#include "flow_test_support.h"

#include <QPushButton>

namespace installer {
namespace {

namespace fs = std::filesystem;
using testing::FlowTest;

class UninstallFlow : public FlowTest {
protected:
    void uninstall()
    {
        installer.controller.uninstallButtonClicked();
        ASSERT_NE(alert(), nullptr);
    }
};

TEST_F(UninstallFlow, RemovesEntryHelperAndFolder)
{
    installer.controller.installButtonClicked();
    ASSERT_TRUE(answeringInstalledHelper());
    EXPECT_FALSE(pressEndsInstaller(QStringLiteral("Close")));
    installer.controller.updateUI();
    EXPECT_TRUE(installer.controller.uninstallButton->isEnabled());

    uninstall();
    EXPECT_EQ(alert()->text(), QStringLiteral("Uninstallation succeeded"));
    EXPECT_EQ(alert()->informativeText(), QStringLiteral("Ferrowind Helper Application is uninstalled."));
    EXPECT_EQ(buttonTexts(), (QStringList { QStringLiteral("Exit installer"), QStringLiteral("Close") }));
    // Refreshed while the sheet is still up.
    EXPECT_TRUE(installer.controller.installButton->isEnabled());
    EXPECT_FALSE(installer.controller.uninstallButton->isEnabled());

    EXPECT_EQ(autostartEntryCount(), 0);
    EXPECT_FALSE(fs::exists(installFolder()));
    EXPECT_TRUE(platform::testing::eventually([&] { return helperProcesses().empty(); }));
    saveScreenshot(QStringLiteral("alert-uninstallation-succeeded"));
    EXPECT_TRUE(pressEndsInstaller(QStringLiteral("Exit installer")));
}

TEST_F(UninstallFlow, CleanHomeFailsWithOneCloseButtonAndEndsNoHelper)
{
    const auto otherCopy = testing::makeHelperBundle(installer.home.path() / "elsewhere");
    testing::ChildProcess other(otherCopy + "/Contents/MacOS/sleeper", { "60" });
    ASSERT_TRUE(platform::testing::eventually([&] { return helperProcesses().size() == 1; }));

    uninstall();
    EXPECT_EQ(alert()->text(), QStringLiteral("Uninstallation failed"));
    EXPECT_EQ(alert()->informativeText(),
        QStringLiteral("Uninstallation of the Helper Application failed, please contact us at "
                       "support@ferrowind.example for additional support!"));
    EXPECT_EQ(buttonTexts(), QStringList { QStringLiteral("Close") });
    saveScreenshot(QStringLiteral("alert-uninstallation-failed"));
    // The default button, return code 1, yet the outcome is a failure.
    EXPECT_FALSE(pressEndsInstaller(QStringLiteral("Close")));
    EXPECT_FALSE(other.reapWithin(std::chrono::milliseconds(200))) << "a helper was ended without an entry";
}

// A user for whom no Application Support directory can be found.
TEST(NoApplicationSupport, BothFlowsFailAndChangeNothing)
{
    if (!testing::isolated())
        GTEST_SKIP() << "ends every helper of the user: runs only in namespaces of its own";
    const auto running = platform::makeRunningApplications();
    testing::InstallerUnderTest installer(*running, INSTALLER_HELPER_PAYLOAD, [] { return std::vector<std::string> {}; });
    const auto filesIn = [&] {
        std::vector<fs::path> files;
        for (const auto& entry : fs::recursive_directory_iterator(installer.home.path()))
            files.push_back(entry.path());
        return files;
    };
    const auto before = filesIn();

    installer.controller.installButtonClicked();
    ASSERT_NE(installer.controller.resultAlert(), nullptr);
    EXPECT_EQ(installer.controller.resultAlert()->text(), QStringLiteral("Installation failed"));
    installer.controller.resultAlert()->buttons().front()->click();

    installer.controller.uninstallButtonClicked();
    ASSERT_NE(installer.controller.resultAlert(), nullptr);
    EXPECT_EQ(installer.controller.resultAlert()->text(), QStringLiteral("Uninstallation failed"));
    EXPECT_EQ(filesIn(), before);
}

} // namespace
} // namespace installer
