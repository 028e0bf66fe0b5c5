#include "helper/network_listener.h"

#include "helper/client_admissions.h"
#include "helper/command_framing.h"
#include "helper/command_line.h"
#include "helper/peer_admission.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <variant>

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
// How long the loop must have had nothing to do before it sends the log
// lines of the commands it answered. Long enough for a client that shares
// our CPU to take its reply first (bench/round_trip_bench.cpp), short
// enough that the log is current to the millisecond.
constexpr std::chrono::microseconds kQuietBeforeLogging { 200 };

// Where the wait set holds what: the listening socket, the wake-up of
// lookups that ended, then every connection in list order.
constexpr std::size_t kListeningSlot = 0;
constexpr std::size_t kLookupsEndedSlot = 1;
constexpr std::size_t kFirstConnectionSlot = 2;

// One allocation for a line of several parts.
std::string logLine(std::initializer_list<std::string_view> parts)
{
    std::size_t length = 0;
    for (auto part : parts)
        length += part.size();
    std::string line;
    line.reserve(length);
    for (auto part : parts)
        line += part;
    return line;
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

bool NetworkListener::startListening()
{
    auto& sockets = m_platform.sockets;
    if (!sockets.openListeningSocket()) {
        std::perror("socket");
        std::exit(1);
    }
    auto listening = sockets.listenOnFirstFreePort(kFirstPort, kLastPort, kListenBacklog);
    reportListenersOfOtherUsers();
    auto* port = std::get_if<platform::ListeningPort>(&listening);
    if (!port) {
        m_platform.log.write(notServingBecause(std::get<platform::ListeningRefused>(listening)));
        return false;
    }
    m_platform.log.write("Listening on 127.0.0.1 port " + std::to_string(port->port)
        + (port->handedOver ? ", handed over by the helper this one replaces" : ""));
    // A relaunch passes the socket on, so that no one else can take the
    // port while the next process starts.
    m_platform.launcher.handOverOnRelaunch(sockets.listeningSocket());
    if (!sockets.canTellPeerOwners())
        m_platform.log.write("This system cannot tell who owns a connecting process; serving every connection");
    else if (!m_platform.clients.groupsNameSandboxes())
        m_platform.log.write("No user manager gives each sandbox a control group of its own here: sandboxed clients are told apart only by the "
                             "processes that hold their connections");
    return true;
}

// A client that takes another user's listener for us would tell it which
// files it downloads and believe its answers. Clients must check who owns
// the port before they trust it; the log tells the user why we are not
// where we usually are.
void NetworkListener::reportListenersOfOtherUsers()
{
    for (auto listener : m_platform.sockets.listenersOfOtherUsers(kFirstPort, kLastPort))
        m_platform.log.write("Port " + std::to_string(listener.port) + " is held by a listener of user "
            + std::to_string(listener.owner) + ", not by this helper");
}

std::string NetworkListener::notServingBecause(const platform::ListeningRefused& refused)
{
    if (refused.everyPortTaken)
        return "No port of " + portRange() + " is free: not serving";
    return "Cannot listen on 127.0.0.1 port " + std::to_string(refused.port) + " (" + refused.reason + "): not serving";
}

std::string NetworkListener::portRange() { return std::to_string(kFirstPort) + ".." + std::to_string(kLastPort); }

void NetworkListener::rebuildFDset()
{
    fdSet.clear();
    fdSet.push_back({ m_platform.sockets.listeningSocket(), false });
    fdSet.push_back({ m_platform.sockets.wakeDescriptor(), false });
    for (int descriptor : connections)
        fdSet.push_back({ descriptor, false });
}

bool NetworkListener::startProcessing()
{
    // Read before the lookup thread starts, which reads it too.
    servedApplications();
    m_admissions = std::make_unique<ClientAdmissions>(
        m_platform.clients, [this](const platform::ClientProcess& client) { return wouldServe(client); }, [this] { m_platform.sockets.wake(); });
    // The flags are tested only here, so a quit or restart takes effect after
    // every ready connection of the current pass has been answered.
    while (!restartHelper && !quitHelper) {
        rebuildFDset();
        if (!waitForClients()) {
            m_platform.log.write("Error");
            continue;
        }
        // A new connection is greeted first; clients that are ready as well
        // are reported again by the next wait. Refused connections greet no
        // one and do not hold them up.
        bool greeted = fdSet[kLookupsEndedSlot].ready && admitLookedUp();
        greeted = (fdSet[kListeningSlot].ready && acceptConnections()) || greeted;
        if (!greeted)
            serveReadyConnections();
    }
    closeAllSockets();
    m_platform.log.sendWaitingLines();
    return restartHelper;
}

// The log lines of the commands answered so far are sent once no client
// has sent anything for a moment: no reply waits for the log daemon, even
// where it shares the CPU, and the lines of commands sent back to back go
// out together. False when the wait failed.
bool NetworkListener::waitForClients()
{
    if (m_platform.log.hasWaitingLines()) {
        for (auto quiet : { std::chrono::microseconds(0), kQuietBeforeLogging }) {
            if (!m_platform.sockets.waitUntilReady(fdSet, quiet))
                return false;
            if (anyReady())
                return true;
        }
        m_platform.log.sendWaitingLines();
    }
    // Woken by the nearest deadline too, to close the line that missed it.
    return m_platform.sockets.waitUntilReady(fdSet, timeUntilNearestDeadline());
}

bool NetworkListener::anyReady() const
{
    return std::any_of(fdSet.begin(), fdSet.end(), [](auto const& entry) { return entry.ready; });
}

// True when a connection was greeted.
bool NetworkListener::acceptConnections()
{
    for (int taken = 0; taken < kMostRefusalsPerPass; ++taken) {
        auto client = m_platform.sockets.acceptPending();
        if (!client)
            return false;
        // Checked before the welcome line, which already tells the user's name.
        if (admitOrLookUp(*client))
            return true;
    }
    return false;
}

// Decides at once what can be decided without a look through processes;
// the rest waits for one off this thread. True when greeted.
bool NetworkListener::admitOrLookUp(const platform::AcceptedConnection& client)
{
    if (!peerIsWelcome(client.peer)) {
        // A reset rather than an orderly close: a storm of refused
        // connections leaves nothing behind.
        m_platform.sockets.refuse(client.descriptor);
        return false;
    }
    // Only where the system cannot tell owners at all (decided at start and
    // logged then) is a peer served without being found.
    if (client.peer.outcome != platform::PeerSocketLookup::Outcome::found)
        return admitOrRefuse(client.descriptor, { platform::ClientLookup::Outcome::found, {} });
    auto known = m_platform.clients.recognise(client.peer);
    const bool holderWanted = known && known->outcome == platform::ClientLookup::Outcome::found && !known->client.handle && wouldServe(known->client);
    if (known && !holderWanted)
        return admitOrRefuse(client.descriptor, *known);
    if (m_admissions->lookUp(client.descriptor, client.peer, known.value_or(platform::ClientLookup {})))
        return false;
    if (m_waitingRefusalWarning.allows(WarningThrottle::Clock::now()))
        m_platform.log.write("Refused a connection: too many connections wait to be looked up");
    m_platform.sockets.refuse(client.descriptor);
    return false;
}

// Whether a client found as `client` is one we serve; read on the lookup
// thread too, so only what is fixed once serving starts.
bool NetworkListener::wouldServe(const platform::ClientProcess& client) const
{
    return admitsClient({ platform::ClientLookup::Outcome::found, client }, *m_servedApplications).admitted;
}

// The connections whose lookup has ended. True when one was greeted.
bool NetworkListener::admitLookedUp()
{
    m_platform.sockets.clearWake();
    bool greeted = false;
    for (auto& looked : m_admissions->takeLooked())
        greeted = admitOrRefuse(looked.descriptor, looked.lookup) || greeted;
    return greeted;
}

// True when greeted.
bool NetworkListener::admitOrRefuse(int descriptor, const platform::ClientLookup& lookup)
{
    if (!clientIsWelcome(lookup)) {
        m_platform.sockets.refuse(descriptor);
        return false;
    }
    m_platform.clients.rememberServed(lookup.client);
    connections.push_back(descriptor);
    m_clients[descriptor] = lookup.client;
    writeWelcome(descriptor);
    return true;
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

bool NetworkListener::clientIsWelcome(const platform::ClientLookup& client)
{
    const auto admission = admitsClient(client, servedApplications());
    if (!admission.admitted && m_refusedClientWarnings.allows(admission.refusal, WarningThrottle::Clock::now()))
        m_platform.log.write(admission.refusal);
    return admission.admitted;
}

const std::vector<std::string>& NetworkListener::servedApplications()
{
    if (!m_servedApplications)
        m_servedApplications = m_platform.mainBundle.info.strings(kServedSandboxedApplicationsKey).value_or(std::vector<std::string> {});
    return *m_servedApplications;
}

std::optional<std::chrono::milliseconds> NetworkListener::timeUntilNearestDeadline() const
{
    std::optional<PendingLine::Clock::time_point> nearest;
    for (auto const& [descriptor, pending] : m_pendingLines) {
        if (!nearest || *pending.deadline() < *nearest)
            nearest = pending.deadline();
    }
    if (!nearest)
        return std::nullopt;
    // Rounded up: a wait that ends just before the deadline would find
    // nothing to close and wait again with no time left.
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(*nearest - m_platform.clock()), std::chrono::milliseconds(0));
}

std::vector<int> NetworkListener::expiredLines(PendingLine::Clock::time_point now) const
{
    std::vector<int> expired;
    for (auto const& [descriptor, pending] : m_pendingLines) {
        if (pending.expiredAt(now))
            expired.push_back(descriptor);
    }
    return expired;
}

void NetworkListener::serveReadyConnections()
{
    auto expired = expiredLines(m_platform.clock());
    std::vector<int> finished;
    for (std::size_t i = 0; i < connections.size(); ++i) {
        int descriptor = connections[i];
        if (fdSet[i + kFirstConnectionSlot].ready) {
            if (!processFD(descriptor))
                finished.push_back(descriptor);
        } else if (std::find(expired.begin(), expired.end(), descriptor) != expired.end()) {
            // Only a line with nothing left to read is late: bytes that
            // arrived while another client's command ran still count.
            dropConnection(descriptor);
            finished.push_back(descriptor);
        }
    }
    std::erase_if(connections, [&](int descriptor) {
        return std::find(finished.begin(), finished.end(), descriptor) != finished.end();
    });
}

bool NetworkListener::processFD(int descriptor)
{
    auto command = readNetworkCommand(descriptor);
    if (command.kind == NetworkCommand::Kind::incomplete)
        return true;
    if (command.kind == NetworkCommand::Kind::closed) {
        dropConnection(descriptor);
        return false;
    }
    auto const& commandLine = command.line;
    // A browser tricked into talking to us: run nothing and answer nothing.
    // Closing with its request unread also discards whatever else it sent.
    if (looksLikeHttp(commandLine)) {
        if (m_crossProtocolWarning.allows(WarningThrottle::Clock::now()))
            m_platform.log.write("Refused a connection that sent an HTTP request");
        dropConnection(descriptor);
        return false;
    }
    m_currentClient = m_clients[descriptor];
    auto reply = processCommand(commandLine);
    reply += '\n';
    if (!writeLine(descriptor, reply)) {
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
    m_pendingLines.erase(descriptor);
    m_platform.sockets.close(descriptor);
    m_clients.erase(descriptor);
}

// Takes what the connection has sent since the last read, never waiting for
// more: the rest of a line comes in later passes, while other clients are
// served. All bytes that arrived before the text ends in a line break form
// one command line; it is never split at an inner line break.
NetworkListener::NetworkCommand NetworkListener::readNetworkCommand(int descriptor)
{
    using Kind = NetworkCommand::Kind;
    // Most lines come whole in one read: only the rest of a line waits in
    // m_pendingLines.
    auto earlier = m_pendingLines.find(descriptor);
    PendingLine fresh;
    auto& pending = earlier != m_pendingLines.end() ? earlier->second : fresh;
    std::array<char, kCommandBufferSize> buffer;
    auto count = m_platform.sockets.readWithoutWaiting(descriptor, buffer.data(), pending.room());
    if (!count)
        return { Kind::closed, {} };
    pending.receive({ buffer.data(), *count }, m_platform.clock());
    NetworkCommand command { Kind::incomplete, {} };
    auto [state, line] = pending.stateAndLine();
    switch (state) {
    case PendingLine::State::complete:
        command = { Kind::line, std::string(line) };
        break;
    case PendingLine::State::refused:
        return { Kind::closed, {} };
    case PendingLine::State::waiting:
        // A request body need not end in a line break; waiting for one would
        // let a web page hold its connection for the time limit, again and
        // again. The request line is enough to refuse it.
        if (looksLikeHttp(pending.received())) {
            command = { Kind::line, std::string(pending.received()) };
        } else if (!pending.received().empty()) {
            if (earlier == m_pendingLines.end())
                m_pendingLines.emplace(descriptor, std::move(fresh));
            return command;
        }
        break;
    }
    // Each line starts afresh; an idle connection holds no buffer.
    if (earlier != m_pendingLines.end())
        m_pendingLines.erase(earlier);
    return command;
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
    for (int descriptor : m_admissions->stop())
        m_platform.sockets.close(descriptor);
    m_admissions.reset();
}

std::string NetworkListener::processCommand(std::string_view commandLine)
{
    auto command = parseCommandLine(commandLine);
    // Kept before the command runs, so that a command that crashes the
    // helper is named in the log; sent after the reply.
    m_platform.log.writeLater(logLine({ "Command: ", command.word, ", Parameters: ", command.parameters.description() }));
    auto reply = renderReply(executeCommand(command.word, command.parameters));
    m_platform.log.writeLater(logLine({ "Command result: ", reply }));
    return reply;
}
