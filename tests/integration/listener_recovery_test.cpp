// The listener thread's last line of defence, with fakes for the platform
// and the real listening socket.
#include "fakes/fake_platform.h"
#include "helper/network_listener.h"
#include "integration/helper_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace harness;

// The failed listener keeps its sockets, as a real helper does until it
// ends; close its listening socket so later cases in this process can bind.
void closeAbandonedListeners()
{
    for (auto const& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        int descriptor = std::stoi(entry.path().filename().string());
        int listening = 0;
        socklen_t length = sizeof listening;
        if (getsockopt(descriptor, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening)
            close(descriptor);
    }
}

TEST(ListenerRecovery, UnexpectedFailureWaitsTenSecondsThenRelaunches)
{
    FakePlatform fake;
    fake.user.failing = true; // the welcome line cannot be built
    NetworkListener startup(fake.platform);
    std::thread listenerThread([&] { startup.start(); });

    auto client = Client::connectTo(9483);
    ASSERT_TRUE(client);
    EXPECT_FALSE(client->readLine(2s)) << "no welcome from a failed listener";
    listenerThread.join();

    EXPECT_EQ(fake.sleeper.sleeps(), (std::vector<std::chrono::milliseconds> { 10'000ms }));
    EXPECT_EQ(fake.launcher.openedAfterExit(), (std::vector<std::string> { fake.platform.mainBundle.path }));
    EXPECT_EQ(fake.mainRunLoop.terminationRequests(), 1);
    closeAbandonedListeners();
}

TEST(ListenerRecovery, QuitEndsWithoutRelaunchAndRestartRelaunchesOnce)
{
    for (auto [command, relaunches] : { std::pair { "quit\n", 0u }, std::pair { "restart\n", 1u } }) {
        FakePlatform fake;
        NetworkListener startup(fake.platform);
        std::thread listenerThread([&] { startup.start(); });
        auto client = Client::connectTo(9483);
        ASSERT_TRUE(client);
        EXPECT_EQ(client->readLine(), "Ferrowind Helper/3.0.1 - tester");
        client->send(command);
        EXPECT_EQ(client->readLine(), "1");
        listenerThread.join();
        EXPECT_TRUE(fake.sleeper.sleeps().empty());
        EXPECT_EQ(fake.launcher.openedAfterExit().size(), relaunches) << command;
        EXPECT_EQ(fake.mainRunLoop.terminationRequests(), 1);
    }
}

// The lines naming a command are kept before it runs, and sent once its
// reply is out: a log daemon that is slow to take them holds up no reply.
TEST(ListenerLog, RepliesGoOutBeforeTheirLogLines)
{
    FakePlatform fake;
    fake.log.holdSending(true);
    NetworkListener startup(fake.platform);
    std::thread listenerThread([&] { startup.start(); });
    auto client = Client::connectTo(9483);
    ASSERT_TRUE(client);
    client->readLine();
    const std::vector<std::string> commandLines { "Command: version, Parameters: ()", "Command result: \"3.0.1\"" };
    client->send("version\n");
    EXPECT_EQ(client->readLine(5s), "\"3.0.1\"");
    EXPECT_TRUE(fake.log.hasWaitingLines());
    fake.log.holdSending(false);
    for (auto limit = Clock::now() + 5s; fake.log.hasWaitingLines() && Clock::now() < limit;)
        std::this_thread::sleep_for(10ms);
    // After the line telling where the helper listens.
    auto sent = fake.log.sentLines();
    sent.erase(sent.begin(), sent.end() - std::min<std::ptrdiff_t>(2, std::ssize(sent)));
    EXPECT_EQ(sent, commandLines);
    client->send("quit\n");
    client->readLine();
    listenerThread.join();
}

} // namespace
