#include "platform/linux_platform.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// A loopback port the kernel just handed out and took back: free, and out of
// the helper's range, so a helper running here does not get in the way.
std::uint16_t freeLoopbackPort()
{
    int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

int connectTo(std::uint16_t port)
{
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return client;
}

// One connection through the whole service: what the connection loop relies
// on from each call, end to end on real sockets.
TEST(ConnectionSockets, AcceptsOurOwnPeerTellsReadinessExchangesLinesAndRefusesWithAReset)
{
    auto sockets = platform::makeConnectionSockets();
    ASSERT_TRUE(sockets->openListeningSocket());
    auto port = freeLoopbackPort();
    ASSERT_EQ(sockets->listenOnFirstFreePort(port, port, 16), port);

    int kept = connectTo(port);
    int refused = connectTo(port);
    std::vector<platform::SocketReadiness> waitSet { { sockets->listeningSocket(), false } };
    ASSERT_TRUE(sockets->waitUntilReady(waitSet));
    EXPECT_TRUE(waitSet[0].ready);

    auto connection = sockets->acceptPending();
    ASSERT_TRUE(connection);
    if (sockets->canTellPeerOwners()) {
        EXPECT_EQ(connection->peer.outcome, platform::PeerSocketLookup::Outcome::found);
        EXPECT_EQ(connection->peer.owner, platform::processUserId());
    }
    EXPECT_TRUE(sockets->sendWithoutWaiting(connection->descriptor, "hello\n"));
    char received[16] {};
    EXPECT_EQ(read(kept, received, sizeof received), 6);
    EXPECT_EQ(std::string(received), "hello\n");

    // Only the connection with data to read is ready.
    auto other = sockets->acceptPending();
    ASSERT_TRUE(other);
    EXPECT_EQ(write(kept, "ping\n", 5), 5);
    waitSet = { { sockets->listeningSocket(), false }, { connection->descriptor, false }, { other->descriptor, false } };
    ASSERT_TRUE(sockets->waitUntilReady(waitSet));
    EXPECT_FALSE(waitSet[0].ready);
    EXPECT_TRUE(waitSet[1].ready);
    EXPECT_FALSE(waitSet[2].ready);
    char line[8] {};
    EXPECT_EQ(sockets->readSome(connection->descriptor, line, sizeof line), 5u);
    EXPECT_FALSE(sockets->acceptPending()) << "nothing left pending";

    sockets->refuse(other->descriptor);
    errno = 0;
    EXPECT_EQ(read(refused, received, sizeof received), -1);
    EXPECT_EQ(errno, ECONNRESET);

    close(kept);
    EXPECT_EQ(sockets->readSome(connection->descriptor, line, sizeof line), 0u) << "the end of a closed connection";
    sockets->close(connection->descriptor);
    close(refused);
    sockets->stopListening();
}

} // namespace
