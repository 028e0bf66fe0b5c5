#include "platform/linux/proc_net_tcp.h"
#include "platform/linux/socket_peer_sources.h"
#include "platform/socket_peer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Outcome = platform::PeerSocketLookup::Outcome;

// A loopback connection made inside the test: our listener, a client socket
// connected to it, and the accepted end.
class LoopbackPair {
public:
    LoopbackPair()
    {
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_listener, 1);
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        connect(m_client, reinterpret_cast<sockaddr*>(&address), sizeof address);
        m_accepted = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    }
    ~LoopbackPair()
    {
        for (int descriptor : { m_listener, m_client, m_accepted })
            if (descriptor >= 0)
                close(descriptor);
    }
    LoopbackPair(const LoopbackPair&) = delete;
    LoopbackPair& operator=(const LoopbackPair&) = delete;

    int client() const { return m_client; }
    int accepted() const { return m_accepted; }
    void closeClient()
    {
        linger abortive { 1, 0 };
        setsockopt(m_client, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        close(m_client);
        m_client = -1;
    }

private:
    int m_listener { -1 };
    int m_client { -1 };
    int m_accepted { -1 };
};

ino_t inodeOf(int descriptor)
{
    struct stat status {};
    fstat(descriptor, &status);
    return status.st_ino;
}

using Source = platform::PeerSocketLookup (*)(int);

// Each source on its own, and the lookup that combines them.
class SocketPeer : public testing::TestWithParam<Source> { };

TEST_P(SocketPeer, FindsThePeersSocketNotOurAcceptedOne)
{
    LoopbackPair pair;
    ASSERT_GE(pair.accepted(), 0);
    auto peer = GetParam()(pair.accepted());
    ASSERT_EQ(peer.outcome, Outcome::found);
    EXPECT_EQ(peer.inode, inodeOf(pair.client()));
    EXPECT_NE(peer.inode, inodeOf(pair.accepted()));
    EXPECT_EQ(peer.owner, getuid());
}

TEST_P(SocketPeer, APeerThatResetIsNotFound)
{
    LoopbackPair pair;
    ASSERT_GE(pair.accepted(), 0);
    pair.closeClient();
    EXPECT_NE(GetParam()(pair.accepted()).outcome, Outcome::found);
}

INSTANTIATE_TEST_SUITE_P(Sources, SocketPeer,
    testing::Values(&platform::findPeerSocket, &platform::linux_sockets::peerFromSocketDiagnostics,
        &platform::linux_sockets::peerFromProcNetTcp));

TEST(SocketPeerLookup, APeerThatResetIsNotFoundRatherThanUnknown)
{
    LoopbackPair pair;
    ASSERT_GE(pair.accepted(), 0);
    pair.closeClient();
    EXPECT_EQ(platform::findPeerSocket(pair.accepted()).outcome, Outcome::notFound);
}

namespace sockets = platform::linux_sockets;

// Lines as the kernel writes them: 127.0.0.1 is 0100007F, ports in hex.
constexpr const char* kTable
    = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
      "   0: 0100007F:250B 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 1111 1 0\n"
      "   1: 0100007F:250B 0100007F:D431 01 00000000:00000000 00:00000000 00000000  1000        0 2222 1 0\n"
      "   2: 0100007F:D431 0100007F:250B 01 00000000:00000000 00:00000000 00000000  1001        0 3333 1 0\n"
      "   3: garbage\n";

TEST(ProcNetTcp, FindsTheSocketByBothEndpointsInTheirDirection)
{
    std::uint32_t loopback = htonl(INADDR_LOOPBACK);
    auto found = sockets::findTcpSocket(kTable, { loopback, 0xD431 }, { loopback, 9483 });
    ASSERT_TRUE(found);
    EXPECT_EQ(found->owner, 1001u);
    EXPECT_EQ(found->inode, 3333u);

    auto reverse = sockets::findTcpSocket(kTable, { loopback, 9483 }, { loopback, 0xD431 });
    ASSERT_TRUE(reverse);
    EXPECT_EQ(reverse->inode, 2222u);
}

TEST(ProcNetTcp, NothingForUnknownEndpointsOrMalformedText)
{
    std::uint32_t loopback = htonl(INADDR_LOOPBACK);
    EXPECT_FALSE(sockets::findTcpSocket(kTable, { loopback, 1 }, { loopback, 9483 }));
    EXPECT_FALSE(sockets::findTcpSocket("", { loopback, 1 }, { loopback, 9483 }));
    EXPECT_FALSE(sockets::findTcpSocket("0: 0100007F:0001 0100007F", { loopback, 1 }, { loopback, 9483 }));
}

} // namespace
