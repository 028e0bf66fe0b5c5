// Start, single instance, ports, quit, restart and the order of work within
// one pass of the connection loop, against the built bundle.
#include "helper/network_listener.h"
#include "integration/helper_harness.h"
#include "platform/linux/kernel_tables/proc_entries.h"
#include "support/denied_system_call.h"
#include "support/eventually.h"
#include "support/text_files.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <thread>

namespace {

using namespace harness;

// `command` is answered, then every connection is closed and the helper ends.
void expectEndsAfter(const std::string& command, Client& client, HelperProcess& helper)
{
    client.send(command + "\n");
    EXPECT_EQ(client.readLine(), "1");
    EXPECT_TRUE(client.closedWithoutData(5s));
    EXPECT_EQ(helper.waitForExit(10s), 0);
}

// Nothing is left running, relaunched or not, a moment after the end.
void expectNoHelperLater(const HelperBundleCopy& bundle)
{
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(bundle.runningHelpers().empty());
}

TEST(HelperLifecycle, SecondStartExitsWithZeroAndFirstKeepsServing)
{
    HelperBundleCopy bundle;
    HelperProcess first(bundle);
    ASSERT_TRUE(greetedClient());
    HelperProcess second(bundle);
    EXPECT_EQ(second.waitForExit(10s), 0);
    EXPECT_FALSE(Client::connectTo(kPort + 1, 0s)) << "the duplicate bound a port";
    auto client = greetedClient();
    ASSERT_TRUE(client);
    client->send("version\n");
    EXPECT_EQ(client->readLine(), "\"" + bundle.shortVersion() + "\"");
}

// A helper that quits closes its connections first, which leaves them in
// TIME-WAIT on its port, as earlier cases do when all share one namespace.
void leaveClosedConnectionOn(HelperBundleCopy& bundle)
{
    HelperProcess helper(bundle);
    auto client = greetedClient();
    ASSERT_TRUE(client);
    expectEndsAfter("quit", *client, helper);
}

TEST(HelperLifecycle, TakesTheFirstFreePort)
{
    HelperBundleCopy bundle;
    leaveClosedConnectionOn(bundle);
    PortBlocker first(kPort), second(kPort + 1);
    HelperProcess helper(bundle);
    auto client = greetedClient(kPort + 2);
    ASSERT_TRUE(client);
    client->send("version\n");
    EXPECT_EQ(client->readLine(), "\"" + bundle.shortVersion() + "\"");
}

// Why a helper cannot serve, and what it says.
struct NotServing {
    const char* name;
    bool everyPortBlocked;
    // Failing with EACCES, as under a sandbox's filter; -1 for none.
    int deniedSystemCall;
    const char* logLine;
};

// Forked so that a filter holds for the helper and not for the test.
std::optional<int> exitStatusOf(const HelperBundleCopy& bundle, const HelperLogTerminal& log, int deniedSystemCall)
{
    pid_t child = fork();
    if (child == 0) {
        if (deniedSystemCall >= 0 && !testing_support::denySystemCall(deniedSystemCall, EACCES))
            _exit(254);
        HelperProcess helper(bundle, std::nullopt, {}, log.path());
        auto status = helper.waitForExit(10s);
        if (!status)
            kill(helper.pid(), SIGKILL);
        _exit(status.value_or(255));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? std::optional(WEXITSTATUS(status)) : std::nullopt;
}

class HelperNotServing : public testing::TestWithParam<NotServing> { };

// A helper that cannot serve has failed, and says why.
TEST_P(HelperNotServing, IsLoggedAndEndsWithFailureWithoutRelaunch)
{
    HelperBundleCopy bundle;
    std::vector<std::unique_ptr<PortBlocker>> blockers;
    for (int port = kPort; GetParam().everyPortBlocked && port <= kPort + 5; ++port)
        blockers.push_back(std::make_unique<PortBlocker>(port));
    HelperLogTerminal log;
    EXPECT_EQ(exitStatusOf(bundle, log, GetParam().deniedSystemCall), NetworkListener::kCannotServeStatus);
    EXPECT_TRUE(log.waitForLine(GetParam().logLine));
    expectNoHelperLater(bundle);
}

INSTANTIATE_TEST_SUITE_P(Causes, HelperNotServing,
    testing::Values(NotServing { "AllPortsTaken", true, -1, "No port of 9483..9488 is free: not serving" },
        // Bound, but not listening: a socket that would report a hang-up on
        // every wait.
        NotServing { "ListenRefused", false, SYS_listen, "Cannot listen on 127.0.0.1 port 9483 (Permission denied): not serving" }),
    [](const testing::TestParamInfo<NotServing>& info) { return std::string(info.param.name); });

TEST(HelperLifecycle, QuitAnswersClosesEveryConnectionAndEnds)
{
    HelperBundleCopy bundle;
    HelperProcess helper(bundle);
    auto bystander = greetedClient();
    auto client = greetedClient();
    ASSERT_TRUE(bystander && client);
    expectEndsAfter("quit", *client, helper);
    EXPECT_TRUE(bystander->closedWithoutData(5s));
    expectNoHelperLater(bundle);
}

TEST(HelperLifecycle, RestartReplacesTheProcess)
{
    HelperBundleCopy bundle;
    HelperProcess helper(bundle);
    auto client = greetedClient();
    ASSERT_TRUE(client);
    expectEndsAfter("restart", *client, helper);

    auto afterRestart = greetedClient();
    ASSERT_TRUE(afterRestart) << "no helper listens after the restart";
    auto running = bundle.runningHelpers();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_NE(running.front(), helper.pid());
}

TEST(HelperLifecycle, RestartIfUpdatedRestartsOnlyForAnotherVersion)
{
    HelperBundleCopy bundle;
    HelperProcess helper(bundle);
    auto client = greetedClient();
    ASSERT_TRUE(client);
    client->send("restartIfUpdated\n");
    EXPECT_EQ(client->readLine(), "1");
    client->send("version\n");
    EXPECT_EQ(client->readLine(), "\"" + bundle.shortVersion() + "\"");

    bundle.setShortVersion("9.8.7");
    client->send("version\n");
    EXPECT_EQ(client->readLine(), "\"" FERROWIND_VERSION "\"") << "the running version is the one loaded at start";
    expectEndsAfter("restartIfUpdated", *client, helper);

    auto updated = greetedClient();
    ASSERT_TRUE(updated);
    updated->send("version\n");
    EXPECT_EQ(updated->readLine(), "\"9.8.7\"");
}

// Whether `process` has a handler of its own for `signal` (the "SigCgt:" mask
// of /proc/PID/status): until then the first process of a PID namespace
// drops it.
bool catches(pid_t process, int signal)
{
    const auto status = testing_support::readTextFile("/proc/" + std::to_string(process) + "/status");
    const auto field = status.find("SigCgt:");
    return field != std::string::npos && (std::strtoull(status.c_str() + field + 7, nullptr, 16) >> (signal - 1) & 1);
}

// As a container's entry point. The kernel drops a signal of default action
// that the first process of a PID namespace sends itself, as the log's
// handler does once it has sent what waits.
TEST(HelperLifecycle, EndsOnSigtermAsTheFirstProcessOfAPidNamespace)
{
    const std::vector<std::string> newNamespace { "--fork", "--pid", "--mount-proc", "--" };
    auto probe = newNamespace;
    probe.push_back("true");
    testing_support::ChildProcess tried("unshare", probe);
    if (tried.reapWithin(10s) != 0)
        GTEST_SKIP() << "unshare cannot make a PID namespace here";
    HelperBundleCopy bundle;
    auto started = newNamespace;
    started.push_back(bundle.executablePath());
    testing_support::ChildProcess unshare("unshare", started, { .environment = { { "HOME", bundle.home() } } });
    pid_t helper = 0;
    ASSERT_TRUE(testing_support::eventually([&] {
        const auto running = bundle.runningHelpers();
        helper = running.empty() ? 0 : running.front();
        return helper && catches(helper, SIGTERM);
    })) << "no helper with a handler for SIGTERM";
    kill(helper, SIGTERM);
    const auto status = unshare.reapWithin(10s);
    ASSERT_TRUE(status) << "the helper did not end";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 128 + SIGTERM) << "status " << *status;
}

// The helper is held still while clients act, so that everything they do
// meanwhile is seen by one wait of its loop together.
class OnePass : public testing::Test, protected HelperSession {
protected:
    void SetUp() override { start(); }
    // The stop is delivered when the helper next runs; it must be in effect
    // before the clients act.
    void hold()
    {
        kill(m_helper->pid(), SIGSTOP);
        ASSERT_TRUE(testing_support::eventually([&] { return platform::procfs::processState(m_helper->pid()).holds('T'); }))
            << "the helper did not stop";
    }
    void release()
    {
        std::this_thread::sleep_for(200ms);
        kill(m_helper->pid(), SIGCONT);
    }
};

TEST_F(OnePass, NewConnectionIsGreetedBeforeReadyClientsAreRead)
{
    auto waiting = greetedClient();
    ASSERT_TRUE(waiting);
    hold();
    waiting->send("vers"); // ready, but its line is unfinished
    auto newcomer = Client::connectTo(kPort);
    ASSERT_TRUE(newcomer);
    release();
    EXPECT_TRUE(newcomer->readLine(1s).has_value());
    waiting->send("ion\n");
    EXPECT_EQ(waiting->readLine(), "\"" FERROWIND_VERSION "\"");
}

TEST_F(OnePass, QuitLetsTheRestOfThePassBeAnswered)
{
    auto quitter = greetedClient();
    auto other = greetedClient();
    ASSERT_TRUE(quitter && other);
    hold();
    quitter->send("quit\n");
    other->send("version\n");
    release();
    EXPECT_EQ(quitter->readLine(), "1");
    EXPECT_EQ(other->readLine(), "\"" FERROWIND_VERSION "\"");
    EXPECT_TRUE(other->closedWithoutData(5s));
    EXPECT_EQ(m_helper->waitForExit(10s), 0);
}

TEST(HelperDescriptors, OutOfDescriptorsShedsNewcomersAndKeepsServing)
{
    HelperBundleCopy bundle;
    HelperProcess helper(bundle, 16u);
    std::vector<Client> greeted;
    // One full exchange before descriptors run out: UBSan's first check of a
    // call needs a descriptor of its own, which would fail its own way.
    greeted.push_back(*greetedClient());
    greeted.back().send("version\n");
    ASSERT_EQ(greeted.back().readLine(), "\"" FERROWIND_VERSION "\"");
    int shed = 0;
    for (int i = 0; i < 24; ++i) {
        auto client = Client::connectTo(kPort);
        ASSERT_TRUE(client);
        if (client->readLine(2s))
            greeted.push_back(std::move(*client));
        else
            ++shed;
    }
    EXPECT_GT(shed, 0);
    ASSERT_FALSE(greeted.empty());
    greeted.front().send("version\n");
    EXPECT_EQ(greeted.front().readLine(), "\"" FERROWIND_VERSION "\"");
    greeted.pop_back();
    std::this_thread::sleep_for(200ms);
    greeted.back().send("version\n"); // lets the loop notice the closed one
    EXPECT_EQ(greeted.back().readLine(), "\"" FERROWIND_VERSION "\"");
    auto late = greetedClient();
    EXPECT_TRUE(late) << "a freed descriptor is used again";
}

TEST(HelperDescriptors, ServesDescriptorsBeyondTheSelectLimit)
{
    raiseDescriptorLimit(4096);
    HelperBundleCopy bundle;
    HelperProcess helper(bundle, 4096u);
    std::vector<Client> clients;
    for (int i = 0; i < 1100; ++i) {
        auto client = greetedClient();
        ASSERT_TRUE(client) << "client " << i;
        clients.push_back(std::move(*client));
    }
    for (auto* client : { &clients.front(), &clients.back() }) {
        client->send("version\n");
        EXPECT_EQ(client->readLine(), "\"" FERROWIND_VERSION "\"");
    }
}

} // namespace
