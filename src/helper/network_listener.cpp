#include "helper/network_listener.h"

#include "helper/command_framing.h"
#include "helper/command_line.h"
#include "helper/peer_admission.h"
#include "helper/reply_writing.h"
#include "platform/socket_peer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Our connection waits behind every one queued before it, so under another
// user's storm a long queue costs it milliseconds on every attempt, where a
// short one costs the kernel's one-second retry only on the rare attempt
// that finds the queue full (bench/owner_under_storm_bench.cpp: p90 about
// 40 times the quiet figure with 1024, within 6 times with 16). 16 rather
// than 5 leaves room for a burst of our own clients.
constexpr int kListenBacklog = 16;
// Refusing a connection costs microseconds; taking a few off the queue in one
// pass keeps a storm of them from costing our clients a pass each, and the
// bound keeps our ready clients from waiting behind more than a few. A
// larger bound drains a storm sooner but lets kept connections wait longer
// (bench/owner_under_storm_bench.cpp).
constexpr int kMostRefusalsPerPass = 4;
constexpr int kReadTimeoutSeconds = 3;

// A signal landing on this thread is no fault of the client's.
ssize_t readRetryingInterrupts(int descriptor, char* into, std::size_t length)
{
    ssize_t count;
    do {
        count = read(descriptor, into, length);
    } while (count < 0 && errno == EINTR);
    return count;
}

std::string infoText(const platform::Bundle& bundle, std::string_view key)
{
    return bundle.info.string(key).value_or("(null)");
}

} // namespace

NetworkListener::NetworkListener(HelperPlatform& platform)
    : m_platform(platform)
{
}

NetworkListener::~NetworkListener()
{
    // The lookup's descriptors close with it.
    if (m_spareDescriptor >= 0)
        close(m_spareDescriptor);
}

bool NetworkListener::startListening()
{
    // Non-blocking, so that a pass can take pending connections until none is
    // left without waiting for one.
    serverSocketFD = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (serverSocketFD < 0) {
        perror("socket");
        std::exit(1);
    }
    int reuse = 1;
    setsockopt(serverSocketFD, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);

    for (int port = kFirstPort; port <= kLastPort; ++port) {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr("127.0.0.1");
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        if (bind(serverSocketFD, reinterpret_cast<sockaddr*>(&address), sizeof address) >= 0) {
            listen(serverSocketFD, kListenBacklog);
            m_listeningAddress = address;
            m_spareDescriptor = open("/dev/null", O_RDONLY | O_CLOEXEC);
            startPeerLookup();
            return true;
        }
    }
    return false;
}

// Opened now and kept, so that owners can still be told apart when the
// connections have used up our descriptors.
void NetworkListener::startPeerLookup()
{
    m_peerOwners = std::make_unique<platform::PeerOwnerLookup>(serverSocketFD);
    if (m_peerOwners->source() == platform::PeerOwnerLookup::Source::none)
        m_platform.log.write("This system cannot tell who owns a connecting process; serving every connection");
}

void NetworkListener::setReadTimeout(int descriptor)
{
    timeval timeout { kReadTimeoutSeconds, 0 };
    setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

void NetworkListener::rebuildFDset()
{
    fdSet.clear();
    fdSet.push_back({ serverSocketFD, POLLIN, 0 });
    for (int descriptor : connections)
        fdSet.push_back({ descriptor, POLLIN, 0 });
}

bool NetworkListener::startProcessing()
{
    // The flags are tested only here, so a quit or restart takes effect after
    // every ready connection of the current pass has been answered.
    while (!restartHelper && !quitHelper) {
        rebuildFDset();
        int ready = poll(fdSet.data(), fdSet.size(), -1);
        if (ready < 0) {
            m_platform.log.write("Error");
            continue;
        }
        // A new connection is greeted first; clients that are ready as well
        // are reported again by the next wait. Refused connections greet no
        // one and do not hold them up.
        bool greeted = fdSet.front().revents != 0 && acceptConnections();
        if (!greeted)
            serveReadyConnections();
    }
    closeAllSockets();
    return restartHelper;
}

// True when a connection was greeted.
bool NetworkListener::acceptConnections()
{
    for (int taken = 0; taken < kMostRefusalsPerPass; ++taken) {
        sockaddr_in peer {};
        socklen_t length = sizeof peer;
        int client = accept4(serverSocketFD, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EMFILE || errno == ENFILE)
                shedPendingConnection();
            return false;
        }
        // Checked before the welcome line, which already tells the user's name.
        if (peerIsWelcome(peer)) {
            setReadTimeout(client);
            connections.push_back(client);
            writeWelcome(client);
            return true;
        }
        refuse(client);
    }
    return false;
}

bool NetworkListener::peerIsWelcome(const sockaddr_in& peerAddress)
{
    using Outcome = platform::PeerSocketLookup::Outcome;
    auto peer = m_peerOwners->find(peerAddress, m_listeningAddress);
    bool welcome = admitsPeer(peer, platform::processUserId());
    auto now = WarningThrottle::Clock::now();
    if (!welcome && peer.outcome == Outcome::found && m_refusedPeerWarning.allows(now))
        m_platform.log.write("Refused a connection from a process of user " + std::to_string(peer.owner));
    if (peer.outcome == Outcome::unavailable && m_unknownPeerWarning.allows(now))
        m_platform.log.write("Cannot tell who owns a connecting process at the moment; refused it");
    return welcome;
}

// A reset rather than an orderly close: nothing is left behind to finish the
// close with the peer, which a storm of connections would otherwise pile up.
void NetworkListener::refuse(int descriptor)
{
    linger abortive { 1, 0 };
    setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    close(descriptor);
}

// Out of descriptors, the pending connection would keep the listening socket
// ready forever and no client would be served again. Spend the spare
// descriptor to take it off the queue and close it.
void NetworkListener::shedPendingConnection()
{
    if (m_spareDescriptor < 0)
        return;
    close(m_spareDescriptor);
    int pending = accept4(serverSocketFD, nullptr, nullptr, SOCK_CLOEXEC);
    if (pending >= 0)
        close(pending);
    m_spareDescriptor = open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void NetworkListener::serveReadyConnections()
{
    std::vector<int> finished;
    for (std::size_t i = 0; i < connections.size(); ++i) {
        // fdSet[0] is the listening socket; connection i follows at i + 1.
        if (fdSet[i + 1].revents != 0 && !processFD(connections[i]))
            finished.push_back(connections[i]);
    }
    std::erase_if(connections, [&](int descriptor) {
        return std::find(finished.begin(), finished.end(), descriptor) != finished.end();
    });
}

bool NetworkListener::processFD(int descriptor)
{
    auto commandLine = readNetworkCommand(descriptor);
    if (!commandLine) {
        dropConnection(descriptor);
        return false;
    }
    // A browser tricked into talking to us: run nothing and answer nothing.
    // Closing with its request unread also discards whatever else it sent.
    if (looksLikeHttp(*commandLine)) {
        if (m_crossProtocolWarning.allows(WarningThrottle::Clock::now()))
            m_platform.log.write("Refused a connection that sent an HTTP request");
        dropConnection(descriptor);
        return false;
    }
    if (!writeLine(descriptor, processCommand(*commandLine) + "\n")) {
        dropConnection(descriptor);
        return false;
    }
    return true;
}

void NetworkListener::dropConnection(int descriptor)
{
    for (auto& entry : fdSet) {
        if (entry.fd == descriptor)
            entry.revents = 0;
    }
    close(descriptor);
}

// All bytes that arrived before the text ends in a line break form one
// command line; it is never split at an inner line break.
std::optional<std::string> NetworkListener::readNetworkCommand(int descriptor)
{
    std::array<char, kCommandBufferSize> buffer {};
    std::size_t held = 0;
    for (;;) {
        ssize_t count = readRetryingInterrupts(descriptor, buffer.data() + held, buffer.size() - 1 - held);
        if (count <= 0)
            return std::nullopt;
        held += static_cast<std::size_t>(count);
        std::string_view received(buffer.data(), held);
        if (auto line = completeCommandLine(received))
            return std::string(*line);
        // A request body need not end in a line break; waiting for one would
        // let a web page hold up every client for the read time-out, again
        // and again. The request line is enough to refuse it.
        if (looksLikeHttp(received))
            return std::string(received);
    }
}

void NetworkListener::writeWelcome(int descriptor)
{
    auto const& bundle = m_platform.mainBundle;
    writeLine(descriptor, infoText(bundle, "CFBundleName") + "/" + infoText(bundle, "CFBundleShortVersionString")
            + " - " + m_platform.user.loginName() + "\n");
}

bool NetworkListener::writeLine(int descriptor, const std::string& line)
{
    return writeLineWithoutWaiting(descriptor, line);
}

void NetworkListener::closeAllSockets()
{
    close(serverSocketFD);
    for (int descriptor : connections)
        close(descriptor);
}

std::string NetworkListener::processCommand(std::string_view commandLine)
{
    auto command = parseCommandLine(commandLine);
    m_platform.log.write("Command: " + command.word + ", Parameters: " + command.parameters.description());
    auto reply = renderReply(executeCommand(command.word, command.parameters));
    m_platform.log.write("Command result: " + reply);
    return reply;
}
