#include "platform/linux/connection/peer_owner_lookup.h"
#include "platform/linux/connection/proc_net_tcp.h"
#include "platform/linux/connection/socket_peer_sources.h"
#include "platform/linux_platform.h"
#include "support/descriptors_used_up.h"
#include "support/loopback.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

using Outcome = platform::PeerSocketLookup::Outcome;
using Source = platform::PeerOwnerLookup::Source;

// A loopback connection made inside the test: our listener, a client socket
// connected to it, and the accepted end.
class LoopbackPair {
public:
    LoopbackPair()
        : m_listener(testing_support::listeningOnLoopback())
        , m_client(testing_support::connectToLoopback(testing_support::boundPort(m_listener)))
        , m_accepted(accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC))
    {
    }
    ~LoopbackPair()
    {
        for (int descriptor : { m_listener, m_client, m_accepted })
            if (descriptor >= 0)
                close(descriptor);
    }
    LoopbackPair(const LoopbackPair&) = delete;
    LoopbackPair& operator=(const LoopbackPair&) = delete;

    int listener() const { return m_listener; }
    int client() const { return m_client; }
    int accepted() const { return m_accepted; }
    void closeClient()
    {
        testing_support::closeWithReset(std::exchange(m_client, -1));
    }

private:
    int m_listener { -1 };
    int m_client { -1 };
    int m_accepted { -1 };
};

ino_t inodeOf(int descriptor)
{
    struct stat status = {};
    fstat(descriptor, &status);
    return status.st_ino;
}

// Bound at a port the kernel picks; listening when it is a stream socket.
int listeningAt(in_addr_t address, int type)
{
    int descriptor = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    auto at = testing_support::loopbackAddress();
    at.sin_addr.s_addr = htonl(address);
    bind(descriptor, reinterpret_cast<sockaddr*>(&at), sizeof at);
    if (type == SOCK_STREAM)
        listen(descriptor, 1);
    return descriptor;
}

struct Sources {
    const char* name;
    std::vector<Source> candidates;
    Source chosen;
};

platform::PeerOwnerLookup lookupFor(const LoopbackPair& pair, const std::vector<Source>& candidates)
{
    switch (candidates.size()) {
    case 0:
        return platform::PeerOwnerLookup(pair.listener(), {});
    case 1:
        return platform::PeerOwnerLookup(pair.listener(), { candidates[0] });
    default:
        return platform::PeerOwnerLookup(pair.listener());
    }
}

// Each source on its own, and the lookup that picks the first that works.
class SocketPeer : public testing::TestWithParam<Sources> { };

TEST_P(SocketPeer, FindsThePeersSocketNotOurAcceptedOne)
{
    LoopbackPair pair;
    ASSERT_GE(pair.accepted(), 0);
    auto lookup = lookupFor(pair, GetParam().candidates);
    ASSERT_EQ(lookup.source(), GetParam().chosen);
    auto peer = lookup.find(pair.accepted());
    ASSERT_EQ(peer.outcome, Outcome::found);
    EXPECT_EQ(peer.inode, inodeOf(pair.client()));
    EXPECT_NE(peer.inode, inodeOf(pair.accepted()));
    EXPECT_EQ(peer.owner, getuid());
}

TEST_P(SocketPeer, APeerThatResetIsNotFound)
{
    LoopbackPair pair;
    ASSERT_GE(pair.accepted(), 0);
    auto lookup = lookupFor(pair, GetParam().candidates);
    pair.closeClient();
    EXPECT_EQ(lookup.find(pair.accepted()).outcome, Outcome::notFound);
}

TEST_P(SocketPeer, StillFindsThePeerWithNoDescriptorLeft)
{
    LoopbackPair pair;
    ASSERT_GE(pair.accepted(), 0);
    auto lookup = lookupFor(pair, GetParam().candidates);
    testing_support::DescriptorsUsedUp exhausted;
    ASSERT_LT(dup(0), 0);
    auto peer = lookup.find(pair.accepted());
    EXPECT_EQ(peer.outcome, Outcome::found);
    EXPECT_EQ(peer.inode, inodeOf(pair.client()));
}

// What the helper and ferrowind-ask ask about a port of theirs: whose
// listener a connection there would reach, bound to 127.0.0.1 or to every
// address (which /proc/net/tcp lists under 0.0.0.0 only).
TEST_P(SocketPeer, FindsTheListenerAtAPortBoundToLoopbackOrToEveryAddress)
{
    LoopbackPair pair;
    auto lookup = lookupFor(pair, GetParam().candidates);
    for (in_addr_t address : { INADDR_LOOPBACK, INADDR_ANY }) {
        int listener = listeningAt(address, SOCK_STREAM);
        auto port = testing_support::boundPort(listener);
        auto found = lookup.findListener(port);
        EXPECT_EQ(found.outcome, Outcome::found) << address;
        EXPECT_EQ(found.inode, inodeOf(listener)) << address;
        EXPECT_EQ(found.owner, getuid()) << address;
        close(listener);
        EXPECT_EQ(lookup.findListener(port).outcome, Outcome::notFound) << "closed, on " << address;
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, SocketPeer,
    testing::Values(Sources { "SocketDiagnostics", { Source::socketDiagnostics }, Source::socketDiagnostics },
        Sources { "ProcNetTcp", { Source::procNetTcp }, Source::procNetTcp },
        Sources { "FirstThatWorks", { Source::socketDiagnostics, Source::procNetTcp }, Source::socketDiagnostics }),
    [](const testing::TestParamInfo<Sources>& info) { return std::string(info.param.name); });

TEST(SocketPeerLookup, WithoutAnySourceEveryOwnerIsUnsupportedNotUnavailable)
{
    LoopbackPair pair;
    ASSERT_GE(pair.accepted(), 0);
    auto lookup = lookupFor(pair, {});
    EXPECT_EQ(lookup.source(), Source::none);
    EXPECT_EQ(lookup.find(pair.accepted()).outcome, Outcome::unsupported);
}

TEST(SocketPeerLookup, APeerThatResetIsNotFoundRatherThanUnknown)
{
    LoopbackPair pair;
    ASSERT_GE(pair.accepted(), 0);
    platform::PeerOwnerLookup lookup(pair.listener());
    pair.closeClient();
    EXPECT_EQ(lookup.find(pair.accepted()).outcome, Outcome::notFound);
}

namespace sockets = platform::linux_sockets;

// The announcement of a handed-over socket is only environment variables:
// what is at descriptor 3 is served on only when it was meant for this
// process and is what a helper hands over, and what else it names for us is
// closed. Run in a child, where descriptors 3 and 4 and the environment are
// the test's to change.
struct Handover {
    const char* name;
    in_addr_t address { INADDR_LOOPBACK };
    int type { SOCK_STREAM };
    bool listening { true };
    pid_t announcedOffset { 0 };
    const char* count { "1" };
    // What is to be found afterwards.
    bool taken { false };
    bool threeOpen { false };
    bool fourOpen { true };
};

enum AfterTaking { taken = 1,
    threeOpen = 2,
    fourOpen = 4,
    leftForOthers = 8 };

// The child's exit status as AfterTaking flags; -1 when it did not end by
// itself (an endless loop over the announced count ends at the alarm).
int takenInChild(const Handover& handover)
{
    pid_t child = fork();
    if (child == 0) {
        alarm(5);
        int socket = listeningAt(handover.address, handover.type);
        if (!handover.listening)
            shutdown(socket, SHUT_RD); // a listener that stopped listening
        dup2(socket, 3);
        fcntl(3, F_SETFD, 0); // as a relaunch passes it
        dup2(open("/dev/null", O_RDONLY), 4);
        setenv("LISTEN_FDS", handover.count, 1);
        setenv("LISTEN_PID", std::to_string(getpid() + handover.announcedOffset).c_str(), 1);
        int descriptor = platform::takeHandedOverListeningSocket();
        // A variable left, or one taken that the programs we start inherit.
        bool leftOver = getenv("LISTEN_FDS") || getenv("LISTEN_PID") || (descriptor >= 0 && !(fcntl(3, F_GETFD) & FD_CLOEXEC));
        _exit((descriptor == 3 ? taken : 0) | (fcntl(3, F_GETFD) >= 0 ? threeOpen : 0) | (fcntl(4, F_GETFD) >= 0 ? fourOpen : 0)
            | (leftOver ? leftForOthers : 0));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class HandedOverSocket : public testing::TestWithParam<Handover> { };

TEST_P(HandedOverSocket, TakenOnlyWhenAnnouncedForThisProcessAndListeningOnLoopback)
{
    const auto& handover = GetParam();
    int expected = (handover.taken ? taken | threeOpen : handover.threeOpen ? threeOpen
                                                                            : 0)
        | (handover.fourOpen ? fourOpen : 0);
    EXPECT_EQ(takenInChild(handover), expected);
}

INSTANTIATE_TEST_SUITE_P(Announcements, HandedOverSocket,
    testing::Values(Handover { .name = "Listening", .taken = true },
        Handover { .name = "ForAnotherProcess", .announcedOffset = 1, .threeOpen = true },
        Handover { .name = "NotListening", .listening = false },
        Handover { .name = "OnEveryAddress", .address = INADDR_ANY },
        Handover { .name = "Udp", .type = SOCK_DGRAM },
        Handover { .name = "WithAnother", .count = "2", .fourOpen = false },
        // More than a process can have: nothing is taken, closed or looped over.
        Handover { .name = "BeyondTheDescriptorLimit", .count = "4294967297", .threeOpen = true },
        Handover { .name = "Negative", .count = "-1", .threeOpen = true }),
    [](const testing::TestParamInfo<Handover>& info) { return std::string(info.param.name); });

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
