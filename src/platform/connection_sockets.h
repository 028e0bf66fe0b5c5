#pragma once

#include "platform/socket_peer.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

// A socket to wait on, and after the wait whether it has something to read
// (data, a pending connection, the end, or an error).
struct SocketReadiness {
    int descriptor { -1 };
    bool ready { false };
};

// A connection taken off the listening socket's queue, and who is at its
// other end.
struct AcceptedConnection {
    int descriptor { -1 };
    PeerSocketLookup peer;
};

// The port a listener took, and whether it came bound already from the
// helper this process replaces.
struct ListeningPort {
    std::uint16_t port { 0 };
    bool handedOver { false };
};

// Why listening did not start: every port was taken, or the system would
// not listen on the one that was had (`reason` says why).
struct ListeningRefused {
    bool everyPortTaken { true };
    std::uint16_t port { 0 };
    std::string reason;
};

// A listener of another user on a port of ours, where our clients would
// reach it.
struct ForeignListener {
    std::uint16_t port { 0 };
    UserId owner { 0 };
};

// Loopback TCP for one listener at a time: the listening socket and what it
// needs kept with it are the service's; the caller keeps its connections, as
// descriptors, and closes them through the service.
class ConnectionSockets {
public:
    virtual ~ConnectionSockets() = default;

    // A non-blocking socket to listen on, so that a pass can take pending
    // connections until none is left without waiting for one. False when the
    // system gives none; errno tells why.
    virtual bool openListeningSocket() = 0;
    // Listens on 127.0.0.1 at the first port of firstPort..lastPort that is
    // free, with room for `backlog` pending connections; the socket handed
    // over by the helper this process replaces, when it is one of those.
    // The port, or why there is none.
    virtual std::variant<ListeningPort, ListeningRefused> listenOnFirstFreePort(std::uint16_t firstPort, std::uint16_t lastPort, int backlog) = 0;
    // The listeners of other users on 127.0.0.1 at firstPort..lastPort, in
    // port order; none when this system cannot tell owners.
    virtual std::vector<ForeignListener> listenersOfOtherUsers(std::uint16_t firstPort, std::uint16_t lastPort) = 0;
    virtual int listeningSocket() const = 0;
    // Whether this system can tell who owns a connecting process, as found
    // once listening started.
    virtual bool canTellPeerOwners() const = 0;
    virtual void stopListening() = 0;

    // Nothing when no connection is pending. Out of descriptors, the pending
    // connection is taken off the queue and closed, since it would otherwise
    // keep the listening socket ready forever; that gives nothing too.
    virtual std::optional<AcceptedConnection> acceptPending() = 0;
    // Closes with a reset rather than an orderly close.
    virtual void refuse(int connection) = 0;
    virtual void close(int connection) = 0;

    // A descriptor that becomes ready to read once another thread calls
    // `wake`, for the loop to wait on beside its sockets; `clearWake` makes
    // it wait again. Work done beside the loop tells it so that it is done.
    virtual int wakeDescriptor() const = 0;
    virtual void wake() = 0;
    virtual void clearWake() = 0;

    // Waits until one of `sockets` is ready, or until `limit` has passed
    // (without one, for as long as it takes), and marks every ready one.
    // False when the wait failed.
    virtual bool waitUntilReady(std::vector<SocketReadiness>& sockets, std::optional<std::chrono::microseconds> limit) = 0;
    // What has arrived, up to `length` bytes, without waiting for more: 0
    // when nothing has yet. Nothing at the end or on failure.
    virtual std::optional<std::size_t> readWithoutWaiting(int connection, char* into, std::size_t length) = 0;
    // One line in a single send that never waits and never raises SIGPIPE.
    // False when it could not be written whole.
    virtual bool sendWithoutWaiting(int connection, std::string_view line) = 0;
};

} // namespace platform
