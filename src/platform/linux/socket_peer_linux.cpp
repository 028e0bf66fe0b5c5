#include "platform/socket_peer.h"

#include "platform/linux/proc_net_tcp.h"
#include "platform/linux/socket_peer_sources.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

namespace platform {

namespace {

using Outcome = PeerSocketLookup::Outcome;

struct Endpoints {
    sockaddr_in ours {};
    sockaddr_in peers {};
};

std::optional<Endpoints> endpointsOf(int connection)
{
    Endpoints endpoints;
    socklen_t length = sizeof endpoints.ours;
    if (getsockname(connection, reinterpret_cast<sockaddr*>(&endpoints.ours), &length) != 0
        || endpoints.ours.sin_family != AF_INET)
        return std::nullopt;
    length = sizeof endpoints.peers;
    if (getpeername(connection, reinterpret_cast<sockaddr*>(&endpoints.peers), &length) != 0)
        return std::nullopt;
    return endpoints;
}

// A time-wait entry keeps the peer's address but no longer has an owner or
// an inode; a peer in that state has closed and counts as gone.
PeerSocketLookup foundUnlessClosed(uid_t owner, ino_t inode)
{
    if (inode == 0)
        return { Outcome::notFound, 0, 0 };
    return { Outcome::found, owner, inode };
}

class DiagSocket {
public:
    DiagSocket()
        : m_descriptor(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG))
    {
        // The kernel answers at once; the bound only guards the helper's
        // single thread against a kernel that never does.
        timeval limit { 1, 0 };
        if (m_descriptor >= 0)
            setsockopt(m_descriptor, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    ~DiagSocket()
    {
        if (m_descriptor >= 0)
            close(m_descriptor);
    }
    DiagSocket(const DiagSocket&) = delete;
    DiagSocket& operator=(const DiagSocket&) = delete;
    int descriptor() const { return m_descriptor; }

private:
    int m_descriptor;
};

// Asks sock_diag for the one TCP socket whose source is the peer's address
// and whose destination is ours: the peer's end of this very connection.
PeerSocketLookup askSocketDiagnostics(const Endpoints& endpoints)
{
    DiagSocket diag;
    if (diag.descriptor() < 0)
        return { Outcome::unavailable, 0, 0 };

    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message {};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST;
    message.request.sdiag_family = AF_INET;
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = ~0u;
    message.request.id.idiag_sport = endpoints.peers.sin_port;
    message.request.id.idiag_dport = endpoints.ours.sin_port;
    message.request.id.idiag_src[0] = endpoints.peers.sin_addr.s_addr;
    message.request.id.idiag_dst[0] = endpoints.ours.sin_addr.s_addr;
    message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    if (sendto(diag.descriptor(), &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
        return { Outcome::unavailable, 0, 0 };

    alignas(nlmsghdr) char reply[8192];
    ssize_t length;
    do {
        length = recv(diag.descriptor(), reply, sizeof reply, 0);
    } while (length < 0 && errno == EINTR);
    if (length < 0)
        return { Outcome::unavailable, 0, 0 };

    auto* header = reinterpret_cast<nlmsghdr*>(reply);
    auto remaining = static_cast<unsigned>(length);
    for (; NLMSG_OK(header, remaining); header = NLMSG_NEXT(header, remaining)) {
        if (header->nlmsg_type == NLMSG_ERROR) {
            // ENOENT is also what a kernel without inet_diag answers, so it
            // cannot tell "gone" from "no support"; the caller asks again
            // elsewhere.
            return { Outcome::unavailable, 0, 0 };
        }
        if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY || header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
            continue;
        auto* socketInfo = reinterpret_cast<const inet_diag_msg*>(NLMSG_DATA(header));
        if (socketInfo->id.idiag_sport == endpoints.peers.sin_port && socketInfo->id.idiag_dport == endpoints.ours.sin_port)
            return foundUnlessClosed(socketInfo->idiag_uid, socketInfo->idiag_inode);
    }
    return { Outcome::unavailable, 0, 0 };
}

PeerSocketLookup readProcNetTcp(const Endpoints& endpoints)
{
    std::ifstream file("/proc/net/tcp");
    if (!file)
        return { Outcome::unavailable, 0, 0 };
    std::string table((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad())
        return { Outcome::unavailable, 0, 0 };
    linux_sockets::TcpEndpoint peer { endpoints.peers.sin_addr.s_addr, ntohs(endpoints.peers.sin_port) };
    linux_sockets::TcpEndpoint ours { endpoints.ours.sin_addr.s_addr, ntohs(endpoints.ours.sin_port) };
    auto owner = linux_sockets::findTcpSocket(table, peer, ours);
    if (!owner)
        return { Outcome::notFound, 0, 0 };
    return foundUnlessClosed(owner->owner, owner->inode);
}

} // namespace

namespace linux_sockets {

PeerSocketLookup peerFromSocketDiagnostics(int acceptedConnection)
{
    auto endpoints = endpointsOf(acceptedConnection);
    // A connection whose peer address cannot be read has already been reset.
    return endpoints ? askSocketDiagnostics(*endpoints) : PeerSocketLookup { Outcome::notFound, 0, 0 };
}

PeerSocketLookup peerFromProcNetTcp(int acceptedConnection)
{
    auto endpoints = endpointsOf(acceptedConnection);
    return endpoints ? readProcNetTcp(*endpoints) : PeerSocketLookup { Outcome::notFound, 0, 0 };
}

} // namespace linux_sockets

PeerSocketLookup findPeerSocket(int acceptedConnection)
{
    auto answer = linux_sockets::peerFromSocketDiagnostics(acceptedConnection);
    if (answer.outcome == Outcome::found)
        return answer;
    return linux_sockets::peerFromProcNetTcp(acceptedConnection);
}

uid_t processUserId() { return getuid(); }

} // namespace platform
