#pragma once

#include "helper/command_result.h"
#include "helper/cross_protocol_guard.h"
#include "helper/helper_platform.h"
#include "helper/parameter_list.h"
#include "helper/warning_throttle.h"

#include <memory>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class PeerOwnerLookup;
}

// The helper's command server: a loopback TCP listener on the first free port
// of 9483..9488 whose one thread greets clients, reads their command lines
// and answers each with one line.
class NetworkListener {
public:
    static constexpr int kFirstPort = 9483;
    static constexpr int kLastPort = 9488;
    static constexpr std::size_t kCommandBufferSize = 2048;

    explicit NetworkListener(HelperPlatform& platform);
    // Closes nothing: the connection loop closes its sockets when it ends.
    ~NetworkListener();
    NetworkListener(const NetworkListener&) = delete;
    NetworkListener& operator=(const NetworkListener&) = delete;

    // The listener thread: serve until quit or restart, then relaunch if
    // asked to and end the application.
    void start();

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
    void setReadTimeout(int descriptor);
    void rebuildFDset();
    void startPeerLookup();
    bool acceptConnections();
    bool peerIsWelcome(const sockaddr_in& peer);
    void refuse(int descriptor);
    void shedPendingConnection();
    void serveReadyConnections();
    bool processFD(int descriptor);
    void dropConnection(int descriptor);
    std::optional<std::string> readNetworkCommand(int descriptor);
    void writeWelcome(int descriptor);
    bool writeLine(int descriptor, const std::string& line);
    void closeAllSockets();

    HelperPlatform& m_platform;

    int serverSocketFD { 0 };
    sockaddr_in m_listeningAddress {};
    // Client descriptors in the order they were accepted.
    std::vector<int> connections;
    // What the loop waits on: the listening socket first, then every
    // connection in list order; after the wait it tells which are ready.
    // poll has no limit on descriptor numbers, unlike a select set.
    std::vector<pollfd> fdSet;
    bool restartHelper { false };
    bool quitHelper { false };
    // Held in reserve so that a pending connection can still be taken off the
    // queue and closed when we run out of descriptors.
    int m_spareDescriptor { -1 };
    // Tells who owns each connecting process; made once the port is ours.
    std::unique_ptr<platform::PeerOwnerLookup> m_peerOwners;
    // Hostile clients may retry in a loop; one warning a minute is enough to
    // show that it happens.
    WarningThrottle m_crossProtocolWarning { std::chrono::minutes(1) };
    WarningThrottle m_refusedPeerWarning { std::chrono::minutes(1) };
    WarningThrottle m_unknownPeerWarning { std::chrono::minutes(1) };
};
