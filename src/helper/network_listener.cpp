#include "helper/network_listener.h"

#include "helper/command_framing.h"
#include "helper/command_line.h"
#include "helper/peer_admission.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>

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
constexpr std::chrono::seconds kReadTimeout { 3 };

std::string infoText(const platform::Bundle& bundle, std::string_view key)
{
    return bundle.info.string(key).value_or("(null)");
}

} // namespace

NetworkListener::NetworkListener(HelperPlatform& platform)
    : m_platform(platform)
{
}

bool NetworkListener::startListening()
{
    auto& sockets = m_platform.sockets;
    if (!sockets.openListeningSocket()) {
        std::perror("socket");
        std::exit(1);
    }
    if (!sockets.listenOnFirstFreePort(kFirstPort, kLastPort, kListenBacklog))
        return false;
    if (!sockets.canTellPeerOwners())
        m_platform.log.write("This system cannot tell who owns a connecting process; serving every connection");
    return true;
}

void NetworkListener::rebuildFDset()
{
    fdSet.clear();
    fdSet.push_back({ m_platform.sockets.listeningSocket(), false });
    for (int descriptor : connections)
        fdSet.push_back({ descriptor, false });
}

bool NetworkListener::startProcessing()
{
    // The flags are tested only here, so a quit or restart takes effect after
    // every ready connection of the current pass has been answered.
    while (!restartHelper && !quitHelper) {
        rebuildFDset();
        if (!m_platform.sockets.waitUntilReady(fdSet)) {
            m_platform.log.write("Error");
            continue;
        }
        // A new connection is greeted first; clients that are ready as well
        // are reported again by the next wait. Refused connections greet no
        // one and do not hold them up.
        bool greeted = fdSet.front().ready && acceptConnections();
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
        auto client = m_platform.sockets.acceptPending();
        if (!client)
            return false;
        // Checked before the welcome line, which already tells the user's name.
        if (auto admitted = admittedClient(client->peer)) {
            m_platform.sockets.setReadTimeout(client->descriptor, kReadTimeout);
            connections.push_back(client->descriptor);
            m_clients[client->descriptor] = std::move(*admitted);
            writeWelcome(client->descriptor);
            return true;
        }
        // A reset rather than an orderly close: a storm of refused
        // connections leaves nothing behind.
        m_platform.sockets.refuse(client->descriptor);
    }
    return false;
}

// Who the connection serves, or nothing when it is refused. The client is
// looked up once, since clients keep their connection open.
std::optional<platform::ClientProcess> NetworkListener::admittedClient(const platform::PeerSocketLookup& peer)
{
    if (!peerIsWelcome(peer))
        return std::nullopt;
    // Only a peer of our own user can be a sandboxed application of ours;
    // without an owner there is no socket to find it by.
    if (peer.outcome != platform::PeerSocketLookup::Outcome::found)
        return platform::ClientProcess {};
    auto client = m_platform.clients.ofPeerSocket(peer.inode);
    if (!clientIsWelcome(client))
        return std::nullopt;
    return client;
}

bool NetworkListener::peerIsWelcome(const platform::PeerSocketLookup& peer)
{
    using Outcome = platform::PeerSocketLookup::Outcome;
    bool welcome = admitsPeer(peer, platform::processUserId());
    auto now = WarningThrottle::Clock::now();
    if (!welcome && peer.outcome == Outcome::found && m_refusedPeerWarning.allows(now))
        m_platform.log.write("Refused a connection from a process of user " + std::to_string(peer.owner));
    if (peer.outcome == Outcome::unavailable && m_unknownPeerWarning.allows(now))
        m_platform.log.write("Cannot tell who owns a connecting process at the moment; refused it");
    return welcome;
}

bool NetworkListener::clientIsWelcome(const platform::ClientProcess& client)
{
    const auto served = m_platform.mainBundle.info.strings(kServedSandboxedApplicationsKey).value_or(std::vector<std::string> {});
    if (admitsClient(client, served))
        return true;
    if (m_refusedSandboxWarning.allows(WarningThrottle::Clock::now()))
        m_platform.log.write("Refused a connection from the sandboxed application " + client.applicationId);
    return false;
}

void NetworkListener::serveReadyConnections()
{
    std::vector<int> finished;
    for (std::size_t i = 0; i < connections.size(); ++i) {
        // fdSet[0] is the listening socket; connection i follows at i + 1.
        if (fdSet[i + 1].ready && !processFD(connections[i]))
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
    m_currentClient = m_clients[descriptor];
    if (!writeLine(descriptor, processCommand(*commandLine) + "\n")) {
        dropConnection(descriptor);
        return false;
    }
    return true;
}

void NetworkListener::dropConnection(int descriptor)
{
    for (auto& entry : fdSet) {
        if (entry.descriptor == descriptor)
            entry.ready = false;
    }
    m_platform.sockets.close(descriptor);
    m_clients.erase(descriptor);
}

// All bytes that arrived before the text ends in a line break form one
// command line; it is never split at an inner line break.
std::optional<std::string> NetworkListener::readNetworkCommand(int descriptor)
{
    std::array<char, kCommandBufferSize> buffer {};
    std::size_t held = 0;
    for (;;) {
        auto count = m_platform.sockets.readSome(descriptor, buffer.data() + held, buffer.size() - 1 - held);
        if (count == 0)
            return std::nullopt;
        held += count;
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
    writeLine(descriptor, infoText(bundle, "CFBundleName") + "/" + infoText(bundle, "CFBundleShortVersionString") + " - " + m_platform.user.loginName() + "\n");
}

bool NetworkListener::writeLine(int descriptor, const std::string& line)
{
    return m_platform.sockets.sendWithoutWaiting(descriptor, line);
}

void NetworkListener::closeAllSockets()
{
    m_platform.sockets.stopListening();
    for (int descriptor : connections)
        m_platform.sockets.close(descriptor);
}

std::string NetworkListener::processCommand(std::string_view commandLine)
{
    auto command = parseCommandLine(commandLine);
    m_platform.log.write("Command: " + command.word + ", Parameters: " + command.parameters.description());
    auto reply = renderReply(executeCommand(command.word, command.parameters));
    m_platform.log.write("Command result: " + reply);
    return reply;
}
