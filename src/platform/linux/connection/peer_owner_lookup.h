#pragma once

#include "platform/socket_peer.h"

#include <netinet/in.h>

#include <cstdint>
#include <initializer_list>
#include <memory>

namespace platform {

class PeerSocketTable;

// Opens what it reads when it is made and keeps it, so that a lookup still
// works when the process has used up its descriptors: a connection that
// arrives at that moment must not pass for one whose owner cannot be known.
class PeerOwnerLookup {
public:
    enum class Source {
        socketDiagnostics, // sock_diag: an exact lookup of the one socket
        procNetTcp, // /proc/net/tcp of our network namespace, read whole
        none,
    };
    // Keeps the first of `candidates` that finds `knownSocket`, a bound TCP
    // socket of ours, by its address: a source may open and still answer
    // nothing useful (sock_diag without inet_diag says "no such socket").
    explicit PeerOwnerLookup(int knownSocket, std::initializer_list<Source> candidates = { Source::socketDiagnostics, Source::procNetTcp });
    // The same for a caller that has no bound socket of its own yet: a
    // short-lived listener on a port the system picks stands in for one.
    static std::unique_ptr<PeerOwnerLookup> withProbeSocket();
    ~PeerOwnerLookup();
    PeerOwnerLookup(const PeerOwnerLookup&) = delete;
    PeerOwnerLookup& operator=(const PeerOwnerLookup&) = delete;

    Source source() const { return m_source; }
    PeerSocketLookup find(int acceptedConnection);
    // The same from the addresses of the connection, for a caller that has
    // them already: a refusal then costs no more than the lookup itself.
    PeerSocketLookup find(const sockaddr_in& peers, const sockaddr_in& ours);
    // The listener a connection to 127.0.0.1 at `port` would reach, bound to
    // that address or to every address: who would answer our clients there.
    PeerSocketLookup findListener(std::uint16_t port);

private:
    Source m_source { Source::none };
    std::unique_ptr<PeerSocketTable> m_table;
};

} // namespace platform
