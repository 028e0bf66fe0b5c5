#include "platform/connection_sockets.h"

#include "platform/linux/common/owned_descriptor.h"
#include "platform/linux/connection/handed_over_socket.h"
#include "platform/linux/connection/peer_owner_lookup.h"
#include "platform/linux/connection/reply_writing.h"
#include "platform/linux_platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

namespace platform {

namespace {

using linux_files::OwnedDescriptor;

class LinuxConnectionSockets final : public ConnectionSockets {
public:
    explicit LinuxConnectionSockets(int handedOverListeningSocket)
        : m_handedOver(handedOverListeningSocket)
        , m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
    }

    bool openListeningSocket() override
    {
        m_listening = OwnedDescriptor(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!m_listening.isValid())
            return false;
        int reuse = 1;
        setsockopt(m_listening.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        return true;
    }

    std::variant<ListeningPort, ListeningRefused> listenOnFirstFreePort(std::uint16_t firstPort, std::uint16_t lastPort, int backlog) override
    {
        if (auto port = adoptHandedOver(firstPort, lastPort))
            return startListening(ListeningPort { *port, true }, backlog); // our backlog, whatever the last one was
        for (int port = firstPort; port <= lastPort; ++port) {
            sockaddr_in address {};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = inet_addr("127.0.0.1");
            address.sin_port = htons(static_cast<std::uint16_t>(port));
            if (bind(m_listening.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) >= 0)
                return startListening(ListeningPort { static_cast<std::uint16_t>(port), false }, backlog);
        }
        return ListeningRefused {};
    }

    std::vector<ForeignListener> listenersOfOtherUsers(std::uint16_t firstPort, std::uint16_t lastPort) override
    {
        // Without a socket of our own (every port taken) a probe finds out
        // how owners can be told.
        auto probing = m_peerOwners ? nullptr : PeerOwnerLookup::withProbeSocket();
        auto& lookup = m_peerOwners ? *m_peerOwners : *probing;
        std::vector<ForeignListener> found;
        for (int port = firstPort; port <= lastPort; ++port) {
            auto listener = lookup.findListener(static_cast<std::uint16_t>(port));
            if (listener.outcome == PeerSocketLookup::Outcome::found && listener.owner != processUserId())
                found.push_back({ static_cast<std::uint16_t>(port), listener.owner });
        }
        return found;
    }

    int listeningSocket() const override { return m_listening.get(); }

    bool canTellPeerOwners() const override { return m_peerOwners && m_peerOwners->source() != PeerOwnerLookup::Source::none; }

    void stopListening() override
    {
        m_peerOwners.reset();
        m_spareDescriptor = OwnedDescriptor();
        m_listening = OwnedDescriptor();
    }

    std::optional<AcceptedConnection> acceptPending() override
    {
        sockaddr_in peer {};
        socklen_t length = sizeof peer;
        OwnedDescriptor client(accept4(m_listening.get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
        if (!client.isValid()) {
            if (errno == EMFILE || errno == ENFILE)
                shedPendingConnection();
            return std::nullopt;
        }
        auto owner = m_peerOwners->find(peer, m_listeningAddress);
        return AcceptedConnection { client.release(), owner };
    }

    // Nothing is left behind to finish the close with the peer, which a
    // storm of connections would otherwise pile up.
    void refuse(int connection) override
    {
        OwnedDescriptor refused(connection);
        linger abortive { 1, 0 };
        setsockopt(refused.get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }

    void close(int connection) override { OwnedDescriptor closing(connection); }

    int wakeDescriptor() const override { return m_wake.get(); }

    void wake() override
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = write(m_wake.get(), &one, sizeof one);
    }

    void clearWake() override
    {
        std::uint64_t count = 0;
        [[maybe_unused]] auto taken = read(m_wake.get(), &count, sizeof count);
    }

    // poll has no limit on descriptor numbers, unlike a select set; ppoll
    // waits to the microsecond.
    bool waitUntilReady(std::vector<SocketReadiness>& sockets, std::optional<std::chrono::microseconds> limit) override
    {
        m_pollSet.clear();
        for (auto const& entry : sockets)
            m_pollSet.push_back({ entry.descriptor, POLLIN, 0 });
        timespec timeout {};
        if (limit) {
            auto const microseconds = std::max(limit->count(), std::chrono::microseconds::rep { 0 });
            timeout = { static_cast<time_t>(microseconds / 1'000'000), static_cast<long>(microseconds % 1'000'000 * 1'000) };
        }
        if (ppoll(m_pollSet.data(), m_pollSet.size(), limit ? &timeout : nullptr, nullptr) < 0)
            return false;
        for (std::size_t i = 0; i < sockets.size(); ++i)
            sockets[i].ready = m_pollSet[i].revents != 0;
        return true;
    }

    // One thread serves every client, so a read must never wait for one.
    // MSG_DONTWAIT leaves the socket itself blocking. A signal landing on
    // this thread is no fault of the client's.
    std::optional<std::size_t> readWithoutWaiting(int connection, char* into, std::size_t length) override
    {
        for (;;) {
            auto count = recv(connection, into, length, MSG_DONTWAIT);
            if (count > 0)
                return static_cast<std::size_t>(count);
            if (count == 0)
                return std::nullopt;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            if (errno != EINTR)
                return std::nullopt;
        }
    }

    bool sendWithoutWaiting(int connection, std::string_view line) override
    {
        return linux_sockets::writeLineWithoutWaiting(connection, line);
    }

private:
    // The handed-over socket in place of the one just opened, when it is
    // what it is announced as, on a port of ours.
    std::optional<std::uint16_t> adoptHandedOver(std::uint16_t firstPort, std::uint16_t lastPort)
    {
        OwnedDescriptor handedOver = std::move(m_handedOver);
        auto port = handedOver.isValid() ? linux_sockets::loopbackListeningPort(handedOver.get()) : std::nullopt;
        if (!port || *port < firstPort || *port > lastPort)
            return std::nullopt;
        fcntl(handedOver.get(), F_SETFL, fcntl(handedOver.get(), F_GETFL) | O_NONBLOCK);
        m_listening = std::move(handedOver);
        return port;
    }

    // A socket the system would not listen on still reports a hang-up on
    // every wait: serving on it would spin.
    std::variant<ListeningPort, ListeningRefused> startListening(ListeningPort port, int backlog)
    {
        if (listen(m_listening.get(), backlog) != 0)
            return ListeningRefused { false, port.port, std::strerror(errno) };
        listeningStarted();
        return port;
    }

    void listeningStarted()
    {
        socklen_t length = sizeof m_listeningAddress;
        getsockname(m_listening.get(), reinterpret_cast<sockaddr*>(&m_listeningAddress), &length);
        m_spareDescriptor = openSpare();
        // Opened now and kept, so that owners can still be told apart when
        // the connections have used up our descriptors.
        m_peerOwners = std::make_unique<PeerOwnerLookup>(m_listening.get());
    }

    static OwnedDescriptor openSpare() { return OwnedDescriptor(open("/dev/null", O_RDONLY | O_CLOEXEC)); }

    // Spends the spare descriptor to take the pending connection off the
    // queue and close it, then takes another spare.
    void shedPendingConnection()
    {
        if (!m_spareDescriptor.isValid())
            return;
        m_spareDescriptor = OwnedDescriptor();
        {
            OwnedDescriptor pending(accept4(m_listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
        }
        m_spareDescriptor = openSpare();
    }

    // What the helper we replace handed over, until listening starts.
    OwnedDescriptor m_handedOver;
    OwnedDescriptor m_listening;
    sockaddr_in m_listeningAddress {};
    // Held in reserve so that a pending connection can still be taken off
    // the queue and closed when we run out of descriptors.
    OwnedDescriptor m_spareDescriptor;
    std::unique_ptr<PeerOwnerLookup> m_peerOwners;
    OwnedDescriptor m_wake;
    std::vector<pollfd> m_pollSet;
};

} // namespace

std::unique_ptr<ConnectionSockets> makeConnectionSockets(int handedOverListeningSocket)
{
    return std::make_unique<LinuxConnectionSockets>(handedOverListeningSocket);
}

} // namespace platform
