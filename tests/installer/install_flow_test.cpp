#include "flow_test_support.h"

#include <QPushButton>

namespace installer {
namespace {

namespace fs = std::filesystem;
using testing::FlowTest;
using testing::ScopedMount;

const QString kFailureText = QStringLiteral(
    "Installation of the helper application failed, please contact us at support@ferrowind.example for additional "
    "support!");

class InstallFlow : public FlowTest {
protected:
    void install()
    {
        installer.controller.installButtonClicked();
        ASSERT_NE(alert(), nullptr);
    }

    // The first install, answered with Close; a marker inside tells this
    // copy from any later one.
    void installFirstCopy()
    {
        install();
        ASSERT_TRUE(answeringInstalledHelper());
        EXPECT_FALSE(pressEndsInstaller(QStringLiteral("Close")));
        platform::testing::writeTextFile((installedHelper() / "first-copy").string(), "");
    }

    void expectFailureWithFirstCopyKeptAndNothingStarted()
    {
        EXPECT_EQ(alert()->text(), QStringLiteral("Installation failed"));
        EXPECT_EQ(alert()->informativeText(), kFailureText);
        EXPECT_EQ(buttonTexts(), QStringList { QStringLiteral("Close") });
        EXPECT_TRUE(fs::exists(installedHelper() / "first-copy"));
        EXPECT_EQ(fs::file_size(installedHelper() / "Contents/MacOS/Ferrowind Helper"),
            fs::file_size(fs::path(INSTALLER_HELPER_PAYLOAD) / "Contents/MacOS/Ferrowind Helper"));
        EXPECT_EQ(autostartEntryCount(), 0);
        QTest::qWait(300);
        EXPECT_TRUE(helperProcesses().empty());
    }
};

TEST_F(InstallFlow, RegistersStartsAndReportsTheInstalledHelper)
{
    install();
    EXPECT_EQ(alert()->windowModality(), Qt::WindowModal);
    EXPECT_EQ(alert()->parentWidget(), installer.window.get());
    EXPECT_EQ(alert()->text(), QStringLiteral("Installation succeeded"));
    EXPECT_EQ(alert()->informativeText(), QStringLiteral("Ferrowind Helper Application is installed correctly, now "
                                                         "your Ferrowind is fully functional!"));
    EXPECT_EQ(buttonTexts(), (QStringList { QStringLiteral("Exit installer"), QStringLiteral("Close") }));
    EXPECT_EQ(alert()->defaultButton(), button(QStringLiteral("Exit installer")));

    EXPECT_TRUE(installedHelperRegistered());
    EXPECT_EQ(autostartEntryCount(), 1);
    EXPECT_TRUE(answeringInstalledHelper());
    saveScreenshot(QStringLiteral("alert-installation-succeeded"));
    EXPECT_TRUE(pressEndsInstaller(QStringLiteral("Exit installer")));
}

TEST_F(InstallFlow, AgainReplacesEveryRunningHelper)
{
    installFirstCopy();
    const auto first = answeringInstalledHelper();
    ASSERT_TRUE(first);
    // Matched by identifier: a helper run from another copy goes as well.
    const auto otherCopy = testing::makeHelperBundle(installer.home.path() / "elsewhere");
    testing::ChildProcess other(otherCopy + "/Contents/MacOS/sleeper", { "60" });
    ASSERT_TRUE(platform::testing::eventually([&] { return helperProcesses().size() == 2; }));

    install();
    EXPECT_EQ(alert()->text(), QStringLiteral("Installation succeeded"));
    EXPECT_EQ(autostartEntryCount(), 1);
    EXPECT_TRUE(installedHelperRegistered());
    EXPECT_FALSE(fs::exists(installedHelper() / "first-copy")) << "the old copy was not replaced";
    const auto second = answeringInstalledHelper();
    ASSERT_TRUE(second);
    EXPECT_NE(*second, *first);
    EXPECT_TRUE(other.reapWithin(std::chrono::seconds(5)));
}

// Room for one copy of the helper and a half: the second copy runs out of
// space part-way, the way a full disk or a folder turned read-only would
// stop it.
TEST_F(InstallFlow, CopyThatRunsOutOfSpaceKeepsTheOldCopy)
{
    std::uintmax_t payloadBytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(INSTALLER_HELPER_PAYLOAD))
        payloadBytes += entry.is_regular_file() ? entry.file_size() : 0;
    fs::create_directories(installFolder());
    const std::string size = "size=" + std::to_string(payloadBytes * 3 / 2);
    ScopedMount guard(installFolder(), mount("tmpfs", installFolder().c_str(), "tmpfs", 0, size.c_str()) == 0);
    ASSERT_TRUE(guard.mounted());
    installFirstCopy();

    install();
    expectFailureWithFirstCopyKeptAndNothingStarted();
    EXPECT_EQ(std::distance(fs::directory_iterator(installFolder()), fs::directory_iterator()), 1)
        << "the partial copy was left behind";
    saveScreenshot(QStringLiteral("alert-installation-failed"));
    EXPECT_FALSE(pressEndsInstaller(QStringLiteral("Close")));
}

} // namespace
} // namespace installer
