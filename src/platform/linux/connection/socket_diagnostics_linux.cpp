#include "platform/linux/common/retrying_io.h"
#include "platform/linux/connection/socket_peer_sources.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform::linux_sockets {

namespace {

using Outcome = PeerSocketLookup::Outcome;

struct Request {
    nlmsghdr header;
    inet_diag_req_v2 request;
};

Request exactLookup(const sockaddr_in& at, const sockaddr_in& connectedTo, std::uint32_t sequence)
{
    Request message {};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST;
    message.header.nlmsg_seq = sequence;
    message.request.sdiag_family = AF_INET;
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = ~0u;
    message.request.id.idiag_sport = at.sin_port;
    message.request.id.idiag_dport = connectedTo.sin_port;
    message.request.id.idiag_src[0] = at.sin_addr.s_addr;
    message.request.id.idiag_dst[0] = connectedTo.sin_addr.s_addr;
    message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    return message;
}

// The control group the socket was made in: an attribute that follows the
// message, where the kernel has it (5.7 on, with cgroup v2).
std::uint64_t controlGroupOf(const nlmsghdr& header)
{
    const auto* attribute = reinterpret_cast<const rtattr*>(static_cast<const char*>(NLMSG_DATA(&header)) + NLMSG_ALIGN(sizeof(inet_diag_msg)));
    auto remaining = static_cast<int>(header.nlmsg_len - NLMSG_LENGTH(sizeof(inet_diag_msg)));
    for (; RTA_OK(attribute, remaining); attribute = RTA_NEXT(attribute, remaining)) {
        if (attribute->rta_type == INET_DIAG_CGROUP_ID && RTA_PAYLOAD(attribute) >= sizeof(std::uint64_t)) {
            std::uint64_t id = 0;
            std::memcpy(&id, RTA_DATA(attribute), sizeof id);
            return id;
        }
    }
    return 0;
}

} // namespace

std::unique_ptr<SocketDiagnostics> SocketDiagnostics::open()
{
    linux_files::OwnedDescriptor descriptor(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!descriptor.isValid())
        return nullptr;
    // The kernel answers at once; the bound only guards the helper's single
    // thread against a kernel that never does.
    timeval limit { 1, 0 };
    setsockopt(descriptor.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return std::unique_ptr<SocketDiagnostics>(new SocketDiagnostics(std::move(descriptor)));
}

PeerSocketLookup SocketDiagnostics::find(const sockaddr_in& at, const sockaddr_in& connectedTo)
{
    auto message = exactLookup(at, connectedTo, ++m_sequence);
    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    if (sendto(m_descriptor.get(), &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
        return { Outcome::unavailable, 0, 0 };
    return awaitAnswer(at, connectedTo);
}

PeerSocketLookup SocketDiagnostics::awaitAnswer(const sockaddr_in& at, const sockaddr_in& connectedTo)
{
    alignas(nlmsghdr) char reply[8192];
    for (;;) {
        ssize_t length = linux_files::retryingInterrupts([&] { return recv(m_descriptor.get(), reply, sizeof reply, 0); });
        if (length < 0)
            return { Outcome::unavailable, 0, 0 };
        auto* header = reinterpret_cast<nlmsghdr*>(reply);
        auto remaining = static_cast<unsigned>(length);
        for (; NLMSG_OK(header, remaining); header = NLMSG_NEXT(header, remaining)) {
            if (header->nlmsg_seq != m_sequence)
                continue;
            if (header->nlmsg_type == NLMSG_ERROR) {
                // Once sock_diag has found a socket of ours, "no such socket"
                // means the peer has gone.
                auto* error = reinterpret_cast<const nlmsgerr*>(NLMSG_DATA(header));
                return { error->error == -ENOENT ? Outcome::notFound : Outcome::unavailable, 0, 0 };
            }
            if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY || header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                continue;
            auto* socketInfo = reinterpret_cast<const inet_diag_msg*>(NLMSG_DATA(header));
            if (socketInfo->id.idiag_sport != at.sin_port || socketInfo->id.idiag_dport != connectedTo.sin_port)
                return { Outcome::notFound, 0, 0 };
            auto found = foundUnlessClosed(socketInfo->idiag_uid, socketInfo->idiag_inode);
            found.controlGroup = controlGroupOf(*header);
            return found;
        }
    }
}

} // namespace platform::linux_sockets
