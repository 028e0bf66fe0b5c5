// Other users on the helper's ports: a listener there before the helper, a
// loop that tries to take the port while the helper restarts; and ferrowind-ask, which must ask only a listener of its own user.
#include "helper/network_listener.h"
#include "integration/helper_harness.h"
#include "support/loopback.h"
#include "support/text_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace harness;
using testing::HasSubstr;

// Reports 'L' once it listens on the helper's first port, then 'C' for every
// connection, which it greets and answers "0" as a helper would: what a
// client that trusted it would believe.
void forgingListener(int report)
{
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto address = testing_support::loopbackAddress(kPort);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 16) != 0)
        return;
    (void)!write(report, "L", 1);
    for (int connection; (connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; close(connection)) {
        (void)!write(report, "C", 1);
        char line[4096];
        (void)!send(connection, "Ferrowind Helper/1.0.0 - alice\n", 31, MSG_NOSIGNAL);
        if (recv(connection, line, sizeof line, 0) > 0)
            (void)!send(connection, "0\n", 2, MSG_NOSIGNAL);
    }
}

// Tries to bind the helper's first port over and over, as fast as a
// determined user would; reports 'R' after its first refusal, and 'T' once it
// holds the port, which it then keeps.
void bindLoop(int report)
{
    for (bool reported = false;; reported = true) {
        int attempt = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int reuse = 1;
        setsockopt(attempt, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        auto address = testing_support::loopbackAddress(kPort);
        if (bind(attempt, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(attempt, 1) == 0) {
            (void)!write(report, "T", 1);
            pause();
        }
        close(attempt);
        if (!reported)
            (void)!write(report, "R", 1);
        std::this_thread::sleep_for(100us);
    }
}

struct Asked {
    int status;
    std::string output;
    std::string errors;
};

Asked ask(const std::vector<std::string>& arguments)
{
    testing_support::TemporaryDirectory folder { "ferrowind-ask-test" };
    auto output = (folder.path() / "out").string(), errors = (folder.path() / "err").string();
    testing_support::ChildProcess process(FERROWIND_ASK_PROGRAM, arguments, { .outputs = { { 1, output }, { 2, errors } } });
    auto status = process.reapWithin(40s);
    if (!status || !WIFEXITED(*status))
        return { -1, "", "" };
    return { WEXITSTATUS(*status), testing_support::readTextFile(output), testing_support::readTextFile(errors) };
}

// Asked for, the usage is the output; given no command, it is the error. No
// helper runs here, so a --help sent as a command would end with 1.
TEST(FerrowindAsk, UsageGoesToStandardOutputOnlyWhenAskedFor)
{
    const struct {
        std::vector<std::string> arguments;
        int status;
        bool usageIsOutput;
    } uses[] = { { { "--help" }, 0, true }, { { "-h" }, 0, true }, { {}, 2, false } };
    for (const auto& use : uses) {
        const auto asked = ask(use.arguments);
        const std::string name = use.arguments.empty() ? "no command" : use.arguments.front();
        EXPECT_EQ(asked.status, use.status) << name;
        EXPECT_THAT(use.usageIsOutput ? asked.output : asked.errors, testing::StartsWith("usage: ferrowind-ask COMMAND")) << name;
        EXPECT_EQ(use.usageIsOutput ? asked.errors : asked.output, "") << name;
    }
}

TEST(PortOwnership, ListenerOfAnotherUserIsLoggedAndPassedOverAndTheClientAsksOnlyTheHelper)
{
    if (!mayActAsAnotherUser())
        GTEST_SKIP() << "needs root to act as another user";
    OtherUserProcess squatter(forgingListener);
    ASSERT_EQ(squatter.report(5s), 'L');
    const std::string refusal = "port 9483: the listener belongs to user 65534";

    auto alone = ask({ "fileBusy", "\"/home/alice/secret-plan.pdf\"" });
    EXPECT_EQ(alone.status, 1);
    EXPECT_EQ(alone.output, "") << "the client believed the squatter";
    EXPECT_THAT(alone.errors, HasSubstr(refusal));
    EXPECT_THAT(alone.errors, HasSubstr("no Ferrowind Helper of user 0"));

    HelperBundleCopy bundle;
    HelperLogTerminal log;
    HelperProcess helper(bundle, std::nullopt, {}, log.path());
    EXPECT_TRUE(log.waitForLine("Port 9483 is held by a listener of user 65534, not by this helper"));
    EXPECT_TRUE(log.waitForLine("Listening on 127.0.0.1 port 9484"));
    auto answered = ask({ "version" });
    EXPECT_EQ(answered.status, 0) << answered.errors;
    EXPECT_EQ(answered.output, "\"" + bundle.shortVersion() + "\"\n");
    EXPECT_THAT(answered.errors, HasSubstr(refusal));

    EXPECT_EQ(squatter.report(0s), std::nullopt) << "the squatter got a connection";
}

// The listening socket passes to the new process: there is no moment in
// which the port is free, and a client that connects meanwhile is served by
// the new helper.
TEST(PortOwnership, PortStaysTheHelpersThroughRestartsWhileAnotherUserTriesToBindIt)
{
    HelperBundleCopy bundle;
    HelperProcess helper(bundle);
    auto client = greetedClient();
    ASSERT_TRUE(client);
    OtherUserProcess binder(bindLoop);
    ASSERT_EQ(binder.report(5s), 'R');
    for (int restart = 0; restart < 2; ++restart) {
        client->send("restart\n");
        ASSERT_EQ(client->readLine(), "1");
        auto waiting = Client::connectTo(kPort, 0s);
        ASSERT_TRUE(waiting) << "the port was not listening during restart " << restart;
        ASSERT_TRUE(waiting->readLine(40s)) << "no helper took over the queue after restart " << restart;
        EXPECT_EQ(waiting->ask("version\n"), "\"" + bundle.shortVersion() + "\"");
        client = std::move(waiting);
        if (restart == 0) {
            EXPECT_EQ(helper.waitForExit(10s), 0);
        }
        reapExitedChildren(); // the helpers relaunched since
    }
    EXPECT_EQ(binder.report(0s), std::nullopt) << "another user took the port";
}

} // namespace
