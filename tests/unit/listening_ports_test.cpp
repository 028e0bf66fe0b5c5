// What the helper tells about its ports when it starts: listeners of other
// users in its range, the port it took, and an end with a failure status
// when none was free.
#include "fakes/fake_platform.h"
#include "helper/network_listener.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

// Ports as a test sets them out; nothing is ever connected.
class ScriptedSockets final : public platform::ConnectionSockets {
public:
    std::optional<platform::ListeningPort> taken;
    std::vector<platform::ForeignListener> foreign;

    bool openListeningSocket() override { return true; }
    std::optional<platform::ListeningPort> listenOnFirstFreePort(std::uint16_t, std::uint16_t, int) override { return taken; }
    std::vector<platform::ForeignListener> listenersOfOtherUsers(std::uint16_t, std::uint16_t) override { return foreign; }
    int listeningSocket() const override { return kListening; }
    bool canTellPeerOwners() const override { return true; }
    void stopListening() override { }
    std::optional<platform::AcceptedConnection> acceptPending() override { return std::nullopt; }
    void refuse(int) override { }
    void close(int) override { }
    bool waitUntilReady(std::vector<platform::SocketReadiness>&, std::optional<std::chrono::milliseconds>) override { return false; }
    std::optional<std::size_t> readWithoutWaiting(int, char*, std::size_t) override { return std::nullopt; }
    bool sendWithoutWaiting(int, std::string_view) override { return false; }

    static constexpr int kListening = 42;
};

struct PortsCase {
    const char* name;
    std::optional<platform::ListeningPort> taken;
    std::vector<platform::ForeignListener> foreign;
    std::vector<std::string> log;
};

// The fake platform with the scripted sockets in place of the real ones.
struct ScriptedPlatform {
    FakePlatform fake;
    ScriptedSockets sockets;
    HelperPlatform platform { fake.platform.mainBundle, fake.log, fake.user, fake.applications, fake.launcher, fake.mainRunLoop,
        fake.sleeper, fake.platform.operations, sockets, *fake.clients, *fake.clientPaths };
};

class ListeningPorts : public testing::TestWithParam<PortsCase>, protected ScriptedPlatform { };
class NoFreePort : public testing::Test, protected ScriptedPlatform { };

TEST_P(ListeningPorts, LogNamesForeignListenersAndThePortTaken)
{
    sockets.taken = GetParam().taken;
    sockets.foreign = GetParam().foreign;
    NetworkListener listener(platform);
    EXPECT_EQ(listener.startListening(), GetParam().taken.has_value());
    EXPECT_EQ(fake.log.lines(), GetParam().log);
    // Only a socket actually listened on is passed to a relaunch.
    EXPECT_EQ(fake.launcher.handedOver(), GetParam().taken ? std::vector<int> { ScriptedSockets::kListening } : std::vector<int> {});
}

INSTANTIATE_TEST_SUITE_P(Start, ListeningPorts,
    testing::Values(PortsCase { "AnotherUserOnTheFirst", platform::ListeningPort { 9484, false }, { { 9483, 1001 } },
                        { "Port 9483 is held by a listener of user 1001, not by this helper", "Listening on 127.0.0.1 port 9484" } },
        PortsCase { "HandedOver", platform::ListeningPort { 9485, true }, { { 9483, 1001 }, { 9484, 1002 } },
            { "Port 9483 is held by a listener of user 1001, not by this helper",
                "Port 9484 is held by a listener of user 1002, not by this helper",
                "Listening on 127.0.0.1 port 9485, handed over by the helper this one replaces" } },
        PortsCase { "NoneFree", std::nullopt, { { 9483, 1001 }, { 9488, 0 } },
            { "Port 9483 is held by a listener of user 1001, not by this helper",
                "Port 9488 is held by a listener of user 0, not by this helper", "No port of 9483..9488 is free: not serving" } }),
    [](const auto& info) { return std::string(info.param.name); });

// A helper that cannot serve has failed: it ends with a failure status, and
// is not relaunched to fail again.
TEST_F(NoFreePort, EndsWithFailureStatusAndNoRelaunch)
{
    NetworkListener starter(platform);
    starter.start();
    EXPECT_EQ(fake.mainRunLoop.terminationRequests(), 1);
    EXPECT_EQ(fake.mainRunLoop.exitStatus(), NetworkListener::kNoFreePortStatus);
    EXPECT_NE(NetworkListener::kNoFreePortStatus, 0);
    EXPECT_TRUE(fake.launcher.openedAfterExit().empty());
}

} // namespace
