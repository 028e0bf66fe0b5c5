#include "installer_test_support.h"

#include "installer/main_application_locator.h"
#include "platform/linux_platform.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

namespace fs = std::filesystem;
using testing::makeHelperBundle;
using testing::makeMainApplication;
using testing::TemporaryDirectory;

// The workspace searches a scratch folder of installed bundles; no running
// application is listed, since other test runs may start real helpers.
class MainApplicationSearch : public ::testing::Test {
protected:
    std::optional<std::string> search() const
    {
        const auto workspace = platform::makeWorkspace(running, { installed.string(), moreInstalled.string() });
        return MainApplicationLocator(*workspace, applications.string()).autoDetectBundleURL();
    }

    TemporaryDirectory folder;
    fs::path installed = folder.path() / "installed";
    fs::path moreInstalled = folder.path() / "more";
    fs::path applications = folder.path() / "Applications";
    testing::FakeRunningApplications running;
};

TEST_F(MainApplicationSearch, HelperInsideFerrowindAppComesFirst)
{
    const auto ferrowind = makeMainApplication(installed, "Ferrowind", true, "com.example.other");
    makeMainApplication(moreInstalled, "Ferrowind 3 Beta", true);
    makeMainApplication(applications, "Ferrowind 3", true);

    EXPECT_EQ(search(), ferrowind);
}

TEST_F(MainApplicationSearch, HelperOutsideFerrowindAppIsPassedOver)
{
    makeHelperBundle(installed);
    const auto beta = makeMainApplication(installed, "Ferrowind 3 Beta", true);
    makeMainApplication(applications, "Ferrowind 3", true);

    EXPECT_EQ(search(), beta);
}

TEST_F(MainApplicationSearch, FallsBackToTheApplicationsFolder)
{
    makeMainApplication(installed, "Ferrowind 3 Beta", false);
    const auto fixed = makeMainApplication(applications, "Ferrowind 3", true);

    EXPECT_EQ(search(), fixed);
}

TEST_F(MainApplicationSearch, FindsNothingWithoutAHelperInside)
{
    EXPECT_EQ(search(), std::nullopt);
    makeMainApplication(applications, "Ferrowind 3", false);
    EXPECT_EQ(search(), std::nullopt);
}

TEST(HelperInsideMainApplication, IsFoundOnlyWhereItLies)
{
    TemporaryDirectory folder;
    testing::FakeRunningApplications running;
    const auto workspace = platform::makeWorkspace(running, {});
    const auto launcher = platform::makeProcessLauncher();
    const auto termination = platform::makeProcessTermination();
    const AppDelegate controller({ running, *workspace, *launcher, *termination, platform::openLoginItems, {} }, {});
    const auto with = makeMainApplication(folder.path(), "Ferrowind 3", true);
    const auto without = makeMainApplication(folder.path() / "other", "Ferrowind 3", false);

    EXPECT_EQ(controller.getHelperAppBundle(QString::fromStdString(with)),
        QUrl::fromLocalFile(QString::fromStdString(with + "/" + testing::kHelperPathInside)));
    EXPECT_EQ(controller.getHelperAppBundle(QString::fromStdString(without)), std::nullopt);
}

class LinuxWorkspace : public ::testing::Test {
protected:
    TemporaryDirectory folder;
    std::unique_ptr<platform::RunningApplications> running = platform::makeRunningApplications();
};

// A bundle started from anywhere is known by its identifier, ahead of the
// installed ones.
TEST_F(LinuxWorkspace, KnowsRunningBundlesFirst)
{
    const std::string identifier = "com.example.workspace-test-" + std::to_string(getpid());
    const auto installedBundle = testing::makeBundle(folder.path() / "installed", "Installed", { { "CFBundleIdentifier", identifier } });
    const auto workspace = platform::makeWorkspace(*running, { (folder.path() / "installed").string() });
    EXPECT_EQ(workspace->absolutePathForAppBundleWithIdentifier(identifier), installedBundle);

    const auto runningBundle = testing::makeBundle(folder.path() / "elsewhere", "Running", { { "CFBundleIdentifier", identifier } });
    std::filesystem::copy_file("/bin/sleep", runningBundle + "/Contents/MacOS/sleeper");
    testing::ChildProcess child(runningBundle + "/Contents/MacOS/sleeper", { "30" });
    EXPECT_TRUE(platform::testing::eventually(
        [&] { return workspace->absolutePathForAppBundleWithIdentifier(identifier) == runningBundle; }));
    EXPECT_EQ(workspace->absolutePathForAppBundleWithIdentifier(identifier + ".unknown"), std::nullopt);
}

TEST_F(LinuxWorkspace, PackagesAreDirectoriesNamedApp)
{
    const auto workspace = platform::makeWorkspace(*running, {});
    const auto bundle = testing::makeBundle(folder.path(), "Some", {});
    std::filesystem::create_directories(folder.path() / "Folder");
    platform::testing::writeTextFile(folder / "File.app", "");

    EXPECT_TRUE(workspace->isFilePackageAtPath(bundle));
    EXPECT_TRUE(workspace->isFilePackageAtPath(bundle + "/"));
    EXPECT_FALSE(workspace->isFilePackageAtPath(folder / "Folder"));
    EXPECT_FALSE(workspace->isFilePackageAtPath(folder / "File.app"));
    EXPECT_FALSE(workspace->isFilePackageAtPath(folder / "Missing.app"));
}

} // namespace
} // namespace installer
