#pragma once

// The two places the kernel tells who owns a TCP socket of this network
// namespace, each holding its descriptor for the life of the lookup.

#include "platform/linux/common/owned_descriptor.h"
#include "platform/linux/connection/peer_owner_lookup.h"

#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace platform {

class PeerSocketTable {
public:
    virtual ~PeerSocketTable() = default;
    // The socket bound to `at` and connected to `connectedTo` (all zero for a
    // listening socket).
    virtual PeerSocketLookup find(const sockaddr_in& at, const sockaddr_in& connectedTo) = 0;
};

namespace linux_sockets {

class SocketDiagnostics final : public PeerSocketTable {
public:
    // Nothing when no sock_diag socket can be made.
    static std::unique_ptr<SocketDiagnostics> open();
    PeerSocketLookup find(const sockaddr_in& at, const sockaddr_in& connectedTo) override;

private:
    explicit SocketDiagnostics(linux_files::OwnedDescriptor descriptor)
        : m_descriptor(std::move(descriptor))
    {
    }
    PeerSocketLookup awaitAnswer(const sockaddr_in& at, const sockaddr_in& connectedTo);

    linux_files::OwnedDescriptor m_descriptor;
    // Tells the answer to this question from a late one to an earlier
    // question that timed out.
    std::uint32_t m_sequence { 0 };
};

class ProcNetTcpFile final : public PeerSocketTable {
public:
    static std::unique_ptr<ProcNetTcpFile> open();
    PeerSocketLookup find(const sockaddr_in& at, const sockaddr_in& connectedTo) override;

private:
    explicit ProcNetTcpFile(linux_files::OwnedDescriptor descriptor)
        : m_descriptor(std::move(descriptor))
    {
    }
    bool readTable();

    linux_files::OwnedDescriptor m_descriptor;
    std::string m_table;
};

// A time-wait entry keeps the peer's address but no longer has an owner or
// an inode; a peer in that state has closed and counts as gone.
PeerSocketLookup foundUnlessClosed(uid_t owner, ino_t inode);

} // namespace linux_sockets

} // namespace platform
