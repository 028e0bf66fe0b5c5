#include "platform/linux/processes/process_exit_wait.h"
#include "platform/process_launcher.h"
#include "support/descriptors_used_up.h"
#include "unit/platform/platform_test_support.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using Clock = std::chrono::steady_clock;

// Both ways of waiting: the process descriptor, and the /proc polling used
// where descriptors are refused.
class WaitForProcessExit : public ::testing::TestWithParam<bool> {
protected:
    bool waitFor(pid_t pid, std::chrono::milliseconds bound)
    {
        return GetParam() ? waitForProcessExitByPolling(pid, bound) : waitForProcessExit(pid, bound);
    }
};

TEST_P(WaitForProcessExit, ReturnsOnceTheProcessExitsEvenUnreaped)
{
    ChildProcess child("/bin/sleep", { "30" });
    std::thread killer([&] {
        std::this_thread::sleep_for(200ms);
        kill(child.pid(), SIGTERM);
    });

    const auto start = Clock::now();
    const bool ended = waitFor(child.pid(), 10s);
    const auto waited = Clock::now() - start;
    killer.join();

    EXPECT_TRUE(ended);
    EXPECT_GE(waited, 150ms) << "returned before the process ended";
    EXPECT_LT(waited, 5s);

    ChildProcess zombie("/bin/sleep", { "30" });
    zombie.killLeavingZombie();
    EXPECT_TRUE(waitFor(zombie.pid(), 10ms));
}

TEST_P(WaitForProcessExit, GivesUpAfterTheBound)
{
    ChildProcess child("/bin/sleep", { "30" });

    const auto start = Clock::now();
    EXPECT_FALSE(waitFor(child.pid(), 100ms));
    EXPECT_GE(Clock::now() - start, 100ms);

    // Out of descriptors nothing of the process can be read, which is no
    // sign that it has ended.
    const testing_support::DescriptorsUsedUp usedUp;
    EXPECT_FALSE(waitFor(child.pid(), 100ms));
}

INSTANTIATE_TEST_SUITE_P(, WaitForProcessExit, ::testing::Values(false, true),
    [](const auto& polling) { return polling.param ? "Polling" : "ProcessDescriptor"; });

// waitUntilOpenerHasExited changes the environment and may block, so it runs
// in a forked child, which tells through its exit status whether the opener
// had ended by the time the wait returned.
ChildProcess forkOpenerWaiter(const std::string& variableValue, pid_t opener)
{
    const pid_t pid = fork();
    if (pid != 0)
        return ChildProcess(pid);
    setenv("FERROWIND_OPEN_AFTER_PID", variableValue.c_str(), 1);
    waitUntilOpenerHasExited();
    if (std::getenv("FERROWIND_OPEN_AFTER_PID"))
        _exit(2);
    const std::string stat = testing::readTextFile("/proc/" + std::to_string(opener) + "/stat");
    _exit(stat.empty() || stat[stat.rfind(')') + 2] == 'Z' ? 0 : 1);
}

TEST(WaitUntilOpenerHasExited, WaitsForTheOpenerNamedInTheEnvironment)
{
    ChildProcess opener("/bin/sleep", { "30" });
    auto waiter = forkOpenerWaiter(std::to_string(opener.pid()), opener.pid());
    ASSERT_EQ(waiter.reapWithin(300ms), std::nullopt) << "returned while the opener still ran";

    kill(opener.pid(), SIGTERM); // and left unreaped, as when its parent is slow

    const auto status = waiter.reapWithin(10s);
    ASSERT_TRUE(status && WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
}

TEST(WaitUntilOpenerHasExited, ReturnsAtOnceWhenThereIsNothingToWaitFor)
{
    ChildProcess gone("/bin/true", {});
    const pid_t gonePID = gone.pid();
    ASSERT_TRUE(gone.reapWithin(10s));

    for (const auto& value : { std::to_string(gonePID), std::string("not a number"), std::string("-1") }) {
        auto waiter = forkOpenerWaiter(value, gonePID);
        const auto status = waiter.reapWithin(2s);
        ASSERT_TRUE(status && WIFEXITED(*status)) << value;
        EXPECT_EQ(WEXITSTATUS(*status), 0) << value;
    }
}

} // namespace
} // namespace platform
