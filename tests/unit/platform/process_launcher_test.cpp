#include "platform/linux_platform.h"
#include "unit/platform/platform_test_support.h"

#include <fcntl.h>
#include <glib.h>

#include <gtest/gtest.h>

namespace platform {
namespace {

class ProcessLauncherTest : public ::testing::Test {
protected:
    // What a started script wrote to `output`: it appears whole, by rename.
    std::string awaitOutput()
    {
        EXPECT_TRUE(testing::eventually([&] { return std::filesystem::exists(output); }));
        return testing::readTextFile(output);
    }

    std::string writingToOutput(const std::string& commands) const
    {
        return "{ " + commands + "; } > '" + output + ".tmp' && mv '" + output + ".tmp' '" + output + "'";
    }

    bool launchScript(const std::string& commands, const std::vector<std::string>& arguments = {})
    {
        std::vector<std::string> shellArguments { "-c", writingToOutput(commands) };
        shellArguments.insert(shellArguments.end(), arguments.begin(), arguments.end());
        return launcher->launchDetached("/bin/sh", shellArguments);
    }

    // A bundle whose executable records how it was started.
    std::string makeScriptBundle(const std::string& name, const std::string& executable,
        const std::map<std::string, std::string>& info)
    {
        const auto bundle = testing::makeBundle(folder.path(), name, info);
        const auto path = bundle + "/Contents/MacOS/" + executable;
        testing::writeTextFile(path, "#!/bin/sh\n" + writingToOutput("echo \"$0\"; echo \"${FERROWIND_OPEN_AFTER_PID-unset}\""));
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return bundle;
    }

    std::unique_ptr<ProcessLauncher> launcher = makeProcessLauncher();
    testing::TemporaryDirectory folder;
    const std::string output = folder / "output";
};

TEST_F(ProcessLauncherTest, ReportsAProgramThatCannotStart)
{
    const auto bundle = makeScriptBundle("Broken", "runner", { { "CFBundleExecutable", "elsewhere" } });

    EXPECT_FALSE(launcher->launchDetached(folder / "missing", {}));
    EXPECT_FALSE(launcher->openBundle(bundle));
    EXPECT_FALSE(launcher->openBundleAfterExit(bundle));
    EXPECT_FALSE(launcher->openBundle(folder / "Missing.app"));
}

TEST_F(ProcessLauncherTest, StartsTheProgramWithItsArgumentsInASessionOfItsOwn)
{
    // Fields 1 and 6 of /proc/PID/stat are the process and session ids.
    ASSERT_TRUE(launchScript("printf '%s|%s\\n' \"$0\" \"$1\"; set -- $(cat /proc/$$/stat); echo $1 $6",
        { "first", "second one" }));

    std::istringstream written(awaitOutput());
    std::string arguments, pid, session;
    std::getline(written, arguments);
    written >> pid >> session;

    EXPECT_EQ(session, pid) << "the program leads a session of its own";
    EXPECT_EQ(arguments, "first|second one");
}

TEST_F(ProcessLauncherTest, ReapsTheProgramOnceItHasExited)
{
    ASSERT_TRUE(launchScript("echo $$"));
    const std::string written = awaitOutput();
    const std::string procEntry = "/proc/" + written.substr(0, written.find('\n'));

    // GLib reaps from the default main context, which the test thread runs
    // here as the helper's main thread does. A zombie would keep its entry.
    EXPECT_TRUE(testing::eventually([&] {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        return !std::filesystem::exists(procEntry);
    }));
}

// A relaunched helper that inherited blocked or ignored signals would not
// answer SIGTERM, or would not notice a client that went away.
TEST_F(ProcessLauncherTest, StartsTheProgramWithDefaultSignalHandling)
{
    sigset_t blocked, previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);
    const auto previousPipeHandler = signal(SIGPIPE, SIG_IGN);

    // cp, not a shell: shells clear their signal mask when they start.
    const bool launched = launcher->launchDetached("/bin/cp", { "/proc/self/status", output });

    signal(SIGPIPE, previousPipeHandler);
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ASSERT_TRUE(launched);
    std::string status;
    ASSERT_TRUE(testing::eventually([&] { return (status = testing::readTextFile(output)).find("SigCgt:") != std::string::npos; }));
    const auto mask = [&](const std::string& name) {
        return std::stoull(status.substr(status.find(name + ":") + name.size() + 1), nullptr, 16);
    };
    EXPECT_EQ(mask("SigBlk") & (1ull << (SIGUSR1 - 1)), 0u);
    EXPECT_EQ(mask("SigIgn") & (1ull << (SIGPIPE - 1)), 0u);
}

// An inherited listening socket would keep our port taken from a relaunched
// copy of ourselves.
TEST_F(ProcessLauncherTest, StartsTheProgramWithoutOurDescriptors)
{
    testing::writeTextFile(folder / "leak-marker", "");
    const int leaked = open((folder / "leak-marker").c_str(), O_RDONLY);

    const bool launched = launchScript("ls -l /proc/$$/fd/");

    close(leaked);
    ASSERT_TRUE(launched);
    EXPECT_EQ(awaitOutput().find("leak-marker"), std::string::npos);
}

TEST_F(ProcessLauncherTest, StartsTheExecutableNamedInInfoPlistOrAfterTheBundle)
{
    const auto named = makeScriptBundle("Opened", "runner", { { "CFBundleExecutable", "runner" } });
    const auto unnamed = makeScriptBundle("Plain Name", "Plain Name", {});

    ASSERT_TRUE(launcher->openBundle(named));
    EXPECT_EQ(awaitOutput(), named + "/Contents/MacOS/runner\nunset\n");
    std::filesystem::remove(output);
    ASSERT_TRUE(launcher->openBundle(unnamed + "/"));
    EXPECT_EQ(awaitOutput(), unnamed + "/Contents/MacOS/Plain Name\nunset\n");
}

TEST_F(ProcessLauncherTest, AfterExitTellsTheNewProcessWhomToWaitFor)
{
    const auto bundle = makeScriptBundle("Relaunched", "runner", { { "CFBundleExecutable", "runner" } });

    ASSERT_TRUE(launcher->openBundleAfterExit(bundle));

    EXPECT_EQ(awaitOutput(), bundle + "/Contents/MacOS/runner\n" + std::to_string(getpid()) + "\n");
    EXPECT_EQ(std::getenv("FERROWIND_OPEN_AFTER_PID"), nullptr) << "our own environment stays as it was";
}

} // namespace
} // namespace platform
