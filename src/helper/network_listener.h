#pragma once

#include "helper/client_admissions.h"
#include "helper/command_result.h"
#include "helper/cross_protocol_guard.h"
#include "helper/helper_platform.h"
#include "helper/helper_ports.h"
#include "helper/parameter_list.h"
#include "helper/pending_line.h"
#include "helper/warning_throttle.h"
#include "platform/connection_sockets.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The helper's command server: a loopback TCP listener on the first free port
// of 9483..9488 whose one thread greets clients, reads their command lines
// and answers each with one line.
class NetworkListener {
public:
    static constexpr int kFirstPort = helper_ports::kFirst;
    static constexpr int kLastPort = helper_ports::kLast;
    static constexpr std::size_t kCommandBufferSize = PendingLine::kMostBytes + 1;
    // The exit status when no port of ours is free or the system would not
    // listen on it: a helper that cannot serve has failed, whatever the
    // reason.
    static constexpr int kCannotServeStatus = 1;

    explicit NetworkListener(HelperPlatform& platform);
    // Closes nothing: the connection loop closes its sockets when it ends.
    ~NetworkListener() = default;
    NetworkListener(const NetworkListener&) = delete;
    NetworkListener& operator=(const NetworkListener&) = delete;

    // The listener thread: serve until quit or restart, then relaunch if
    // asked to and end the application.
    void start();

    // False when no port of ours is free; the log says so.
    bool startListening();
    // Runs the connection loop; true when a relaunch is wanted.
    bool startProcessing();

    std::string processCommand(std::string_view commandLine);
    CommandResult executeCommand(std::string commandWord, const ParameterList& parameters);

    // Sets the shared updater to fetch and check for updates by itself and
    // starts a first check. Main thread only.
    void startSparkleUpdater();

    bool isRestartRequested() const { return restartHelper; }
    bool isQuitRequested() const { return quitHelper; }

private:
    // What a connection's latest bytes amount to.
    struct NetworkCommand {
        enum class Kind {
            incomplete,
            // The command line, or the start of an HTTP request to refuse.
            line,
            closed,
        };
        Kind kind;
        std::string line;
    };

    void reportListenersOfOtherUsers();
    static std::string notServingBecause(const platform::ListeningRefused& refused);
    static std::string portRange();
    void rebuildFDset();
    bool waitForClients();
    bool anyReady() const;
    std::optional<std::chrono::milliseconds> timeUntilNearestDeadline() const;
    std::vector<int> expiredLines(PendingLine::Clock::time_point now) const;
    bool acceptConnections();
    bool admitOrLookUp(const platform::AcceptedConnection& client);
    bool admitLookedUp();
    bool wouldServe(const platform::ClientProcess& client) const;
    bool admitOrRefuse(int descriptor, const platform::ClientLookup& lookup);
    bool peerIsWelcome(const platform::PeerSocketLookup& peer);
    bool clientIsWelcome(const platform::ClientLookup& client);
    const std::vector<std::string>& servedApplications();
    void serveReadyConnections();
    bool processFD(int descriptor);
    void dropConnection(int descriptor);
    NetworkCommand readNetworkCommand(int descriptor);
    void writeWelcome(int descriptor);
    bool writeLine(int descriptor, const std::string& line);
    void closeAllSockets();

    HelperPlatform& m_platform;

    // Client descriptors in the order they were accepted.
    std::vector<int> connections;
    // What the loop waits on: the listening socket first, the wake-up of
    // ended lookups, then every connection in list order; after the wait it
    // tells which are ready.
    std::vector<platform::SocketReadiness> fdSet;
    // Where each connection's client runs, and the client of the command
    // being run: paths mean what that client means by them.
    std::map<int, platform::ClientProcess> m_clients;
    platform::ClientProcess m_currentClient;
    // The unfinished line of every connection that has sent part of one.
    std::unordered_map<int, PendingLine> m_pendingLines;
    bool restartHelper { false };
    bool quitHelper { false };
    // Hostile clients may retry in a loop; one warning a minute is enough to
    // show that it happens.
    WarningThrottle m_crossProtocolWarning { std::chrono::minutes(1) };
    WarningThrottle m_refusedPeerWarning { std::chrono::minutes(1) };
    WarningThrottle m_unknownPeerWarning { std::chrono::minutes(1) };
    WarningThrottle m_waitingRefusalWarning { std::chrono::minutes(1) };
    WarningThrottles m_refusedClientWarnings { std::chrono::minutes(1) };
    // Connections whose client is being looked up beside the loop, while
    // the loop runs.
    std::unique_ptr<ClientAdmissions> m_admissions;
    // The bundle's list of further sandboxed applications to serve, read at
    // the first connection.
    std::optional<std::vector<std::string>> m_servedApplications;
};
