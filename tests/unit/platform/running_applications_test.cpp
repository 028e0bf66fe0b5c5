#include "platform/linux_platform.h"
#include "unit/platform/platform_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace platform {
namespace {

using testing::ChildProcess;

class RunningApplicationsList : public ::testing::Test {
protected:
    std::optional<RunningApplication> find(pid_t pid) const
    {
        const auto listed = applications->list();
        const auto found = std::find_if(listed.begin(), listed.end(),
            [pid](const auto& application) { return application.processIdentifier == pid; });
        return found == listed.end() ? std::nullopt : std::optional(*found);
    }

    // A copy of sleep at `<name>.app/Contents/MacOS/sleeper`, started.
    std::unique_ptr<ChildProcess> startBundled(const std::string& name, const std::map<std::string, std::string>& info)
    {
        const auto executable = testing::makeBundle(folder.path(), name, info) + "/Contents/MacOS/sleeper";
        std::filesystem::copy_file("/bin/sleep", executable);
        return std::make_unique<ChildProcess>(executable, std::vector<std::string> { "30" });
    }

    std::unique_ptr<RunningApplications> applications = makeRunningApplications();
    testing::TemporaryDirectory folder;
};

TEST_F(RunningApplicationsList, NamesBundledProcessesFromTheirInfoPlist)
{
    const auto displayed = startBundled("Some Thing", { { "CFBundleName", "Some Thing" }, { "CFBundleDisplayName", "Some Thing Shown" }, { "CFBundleIdentifier", "com.example.some-thing" } });
    const auto named = startBundled("Named", { { "CFBundleName", "Named Bundle" } });
    const auto unnamed = startBundled("Unnamed", { { "CFBundleIdentifier", "com.example.unnamed" } });
    const auto withoutInfo = startBundled("Without Info", {});

    const auto expect = [&](const ChildProcess& child, const char* name, std::optional<std::string> identifier) {
        const auto application = find(child.pid());
        ASSERT_TRUE(application.has_value()) << name;
        EXPECT_EQ(application->displayName, name);
        EXPECT_EQ(application->bundleIdentifier, identifier) << name;
        // Looking one process up gives the same record as the listing.
        const auto single = applications->application(child.pid());
        ASSERT_TRUE(single.has_value()) << name;
        EXPECT_EQ(single->displayName, name);
        EXPECT_EQ(single->bundleIdentifier, identifier) << name;
    };
    expect(*displayed, "Some Thing Shown", "com.example.some-thing");
    expect(*named, "Named Bundle", std::nullopt);
    expect(*unnamed, "sleeper", "com.example.unnamed");
    expect(*withoutInfo, "sleeper", std::nullopt);
}

// Updates replace executables while they run; such a process keeps its name
// rather than showing the kernel's "(deleted)" mark.
TEST_F(RunningApplicationsList, NamesOtherProcessesByTheirExecutableFileName)
{
    std::filesystem::copy_file("/bin/sleep", folder / "plain-sleeper");
    std::filesystem::copy_file("/bin/sleep", folder / "replaced-sleeper");
    ChildProcess plain(folder / "plain-sleeper", { "30" });
    ChildProcess replaced(folder / "replaced-sleeper", { "30" });
    std::filesystem::remove(folder / "replaced-sleeper");

    const auto plainApplication = find(plain.pid());
    const auto replacedApplication = find(replaced.pid());

    ASSERT_TRUE(plainApplication && replacedApplication);
    EXPECT_EQ(plainApplication->displayName, "plain-sleeper");
    EXPECT_EQ(plainApplication->bundleIdentifier, std::nullopt);
    EXPECT_EQ(replacedApplication->displayName, "replaced-sleeper");
}

// A process keeps its id when it replaces its program with another, as every
// program started from another does: it is named by the one it runs now.
TEST_F(RunningApplicationsList, NamesAProcessAfreshOnceItRunsAnotherProgram)
{
    const std::string program = folder / "Finder";
    std::filesystem::copy_file("/bin/sleep", program);
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        char byte;
        if (close(go[1]) == 0 && read(go[0], &byte, 1) == 1)
            execl(program.c_str(), "Finder", "30", nullptr);
        _exit(127);
    }
    ChildProcess child(pid);
    close(go[0]);
    ASSERT_TRUE(find(pid).has_value());
    EXPECT_NE(find(pid)->displayName, "Finder");
    ASSERT_EQ(write(go[1], "!", 1), 1);
    close(go[1]);
    EXPECT_TRUE(testing::eventually([&] { return find(pid) && find(pid)->displayName == "Finder"; }));
}

TEST_F(RunningApplicationsList, IncludesThisProcessAndLeavesOutEndedOnes)
{
    ChildProcess child("/bin/sleep", { "30" });
    ASSERT_TRUE(find(child.pid()).has_value());
    EXPECT_TRUE(find(applications->currentProcessIdentifier()).has_value());
    EXPECT_EQ(applications->currentProcessIdentifier(), getpid());

    child.killLeavingZombie();
    EXPECT_FALSE(find(child.pid()).has_value()) << "a zombie is no application";
    EXPECT_FALSE(applications->application(child.pid()).has_value());
    const pid_t reaped = child.pid();
    ASSERT_TRUE(child.reapWithin(std::chrono::seconds(1)));
    EXPECT_FALSE(find(reaped).has_value());
    EXPECT_FALSE(applications->application(reaped).has_value());
}

TEST_F(RunningApplicationsList, LeavesOutProcessesOfOtherUsers)
{
    constexpr uid_t kOtherUser = 65534;
    if (!platform::testing::mayBecomeUser(kOtherUser))
        GTEST_SKIP() << "needs root to start a process as another user";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (setresuid(kOtherUser, kOtherUser, kOtherUser) == 0)
            execl("/bin/sleep", "sleep", "30", nullptr);
        _exit(127);
    }
    ChildProcess child(pid);
    ASSERT_TRUE(testing::eventually([&] {
        std::error_code error;
        return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error).filename() == "sleep";
    }));

    EXPECT_FALSE(find(pid).has_value());
    EXPECT_FALSE(applications->application(pid).has_value());
}

} // namespace
} // namespace platform
