#include "platform/linux/common/retrying_io.h"
#include "platform/linux/connection/proc_net_tcp.h"
#include "platform/linux/connection/socket_peer_sources.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform::linux_sockets {

namespace {

using Outcome = PeerSocketLookup::Outcome;

constexpr std::size_t kReadChunk = 64 * 1024;

TcpEndpoint endpoint(const sockaddr_in& address) { return { address.sin_addr.s_addr, ntohs(address.sin_port) }; }

} // namespace

std::unique_ptr<ProcNetTcpFile> ProcNetTcpFile::open()
{
    linux_files::OwnedDescriptor descriptor(::open("/proc/net/tcp", O_RDONLY | O_CLOEXEC));
    if (!descriptor.isValid())
        return nullptr;
    return std::unique_ptr<ProcNetTcpFile>(new ProcNetTcpFile(std::move(descriptor)));
}

// The kernel makes the text afresh when it is read from offset 0, so the one
// descriptor serves every lookup.
bool ProcNetTcpFile::readTable()
{
    m_table.clear();
    for (;;) {
        auto held = m_table.size();
        m_table.resize(held + kReadChunk);
        ssize_t count = linux_files::retryingInterrupts(
            [&] { return pread(m_descriptor.get(), m_table.data() + held, kReadChunk, static_cast<off_t>(held)); });
        m_table.resize(held + static_cast<std::size_t>(count > 0 ? count : 0));
        if (count <= 0)
            return count == 0;
    }
}

PeerSocketLookup ProcNetTcpFile::find(const sockaddr_in& at, const sockaddr_in& connectedTo)
{
    if (!readTable())
        return { Outcome::unavailable, 0, 0 };
    auto owner = findTcpSocket(m_table, endpoint(at), endpoint(connectedTo));
    if (!owner)
        return { Outcome::notFound, 0, 0 };
    return foundUnlessClosed(owner->owner, owner->inode);
}

} // namespace platform::linux_sockets
