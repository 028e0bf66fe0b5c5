#include "platform/linux_platform.h"
#include "support/loopback.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using testing_support::freeLoopbackPort;

// One connection through the whole service: what the connection loop relies
// on from each call, end to end on real sockets.
TEST(ConnectionSockets, AcceptsOurOwnPeerTellsReadinessExchangesLinesAndRefusesWithAReset)
{
    auto sockets = platform::makeConnectionSockets();
    ASSERT_TRUE(sockets->openListeningSocket());
    auto port = freeLoopbackPort();
    ASSERT_EQ(sockets->listenOnFirstFreePort(port, port, 16), port);

    int kept = testing_support::connectToLoopback(port);
    int refused = testing_support::connectToLoopback(port);
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
