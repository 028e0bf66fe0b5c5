#include "platform/linux/connection/peer_owner_lookup.h"

#include "platform/linux/common/owned_descriptor.h"
#include "platform/linux/connection/socket_peer_sources.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

namespace platform {

namespace {

using Outcome = PeerSocketLookup::Outcome;
using Source = PeerOwnerLookup::Source;

std::optional<sockaddr_in> addressOf(int descriptor, int (*query)(int, sockaddr*, socklen_t*))
{
    sockaddr_in address {};
    socklen_t length = sizeof address;
    if (query(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0 || address.sin_family != AF_INET)
        return std::nullopt;
    return address;
}

std::unique_ptr<PeerSocketTable> openTable(Source source)
{
    switch (source) {
    case Source::socketDiagnostics:
        return linux_sockets::SocketDiagnostics::open();
    case Source::procNetTcp:
        return linux_sockets::ProcNetTcpFile::open();
    case Source::none:
        break;
    }
    return nullptr;
}

bool tableFinds(PeerSocketTable& table, int knownSocket)
{
    auto at = addressOf(knownSocket, getsockname);
    struct stat status = {};
    if (!at || fstat(knownSocket, &status) != 0)
        return false;
    // A listening socket is connected to nothing: zero address, zero port.
    auto connectedTo = addressOf(knownSocket, getpeername).value_or(sockaddr_in {});
    auto answer = table.find(*at, connectedTo);
    return answer.outcome == Outcome::found && answer.inode == status.st_ino;
}

} // namespace

namespace linux_sockets {

PeerSocketLookup foundUnlessClosed(uid_t owner, ino_t inode)
{
    if (inode == 0)
        return { Outcome::notFound, 0, 0 };
    return { Outcome::found, owner, inode };
}

} // namespace linux_sockets

PeerOwnerLookup::PeerOwnerLookup(int knownSocket, std::initializer_list<Source> candidates)
{
    for (Source candidate : candidates) {
        auto table = openTable(candidate);
        if (table && tableFinds(*table, knownSocket)) {
            m_source = candidate;
            m_table = std::move(table);
            return;
        }
    }
}

PeerOwnerLookup::~PeerOwnerLookup() = default;

std::unique_ptr<PeerOwnerLookup> PeerOwnerLookup::withProbeSocket()
{
    linux_files::OwnedDescriptor probe(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Unbound or not listening, the socket is in no table the lookups read.
    if (probe.isValid() && bind(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        listen(probe.get(), 1);
    return std::make_unique<PeerOwnerLookup>(probe.get());
}

// Looks for the socket at the peer's address connected to ours: the peer's
// end of this very connection, not our accepted one.
PeerSocketLookup PeerOwnerLookup::find(int acceptedConnection)
{
    if (!m_table)
        return { Outcome::unsupported, 0, 0 };
    auto ours = addressOf(acceptedConnection, getsockname);
    auto peers = addressOf(acceptedConnection, getpeername);
    // A connection whose peer address cannot be read has already been reset.
    if (!ours || !peers)
        return { Outcome::notFound, 0, 0 };
    return find(*peers, *ours);
}

PeerSocketLookup PeerOwnerLookup::find(const sockaddr_in& peers, const sockaddr_in& ours)
{
    if (!m_table)
        return { Outcome::unsupported, 0, 0 };
    return m_table->find(peers, ours);
}

PeerSocketLookup PeerOwnerLookup::findListener(std::uint16_t port)
{
    sockaddr_in at {};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = htons(port);
    auto answer = find(at, sockaddr_in {});
    // sock_diag finds a listener on every address from either; the table
    // of /proc/net/tcp lists it only under 0.0.0.0.
    if (answer.outcome != Outcome::notFound)
        return answer;
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    return find(at, sockaddr_in {});
}

UserId processUserId() { return getuid(); }

} // namespace platform
