#pragma once

#include "platform/running_applications.h"
#include "platform/socket_peer.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// The platform's hold on a client process from admission on: paths are
// resolved in that very process's view even after its PID is reused.
class ClientProcessHandle;

// Where a connecting client of the user runs. A sandboxed client is any
// application of that sandbox: its sandbox, not its user, says whom it acts
// for.
struct ClientProcess {
    enum class Sandbox {
        // An ordinary process of the session: it sees our file system.
        none,
        // A Flatpak application; applicationId is its application id.
        flatpak,
        // A strictly confined snap; applicationId is the snap's name.
        snap,
        // A toolbox or podman container of the user, which sees its own file
        // system and says what it is.
        container,
        // Another file system view that says nothing we can trust about
        // itself: a sandbox of some program, or one that tells a lie about
        // what it is.
        unidentified,
    };
    Sandbox sandbox { Sandbox::none };
    // The process holding the peer socket, in the helper's PID namespace.
    ProcessID process { 0 };
    std::string applicationId;
    std::shared_ptr<const ClientProcessHandle> handle;
};

// What could be learnt of the process behind a connection.
struct [[nodiscard]] ClientLookup {
    enum class Outcome {
        // `client` holds the peer socket, or the group the socket was made
        // in named its sandbox (then `client.handle` is empty until its
        // holder is looked for).
        found,
        // No process that may speak for a client holds it: it was passed
        // on in a message, say, or only a daemon that carries descriptors
        // for others holds it, or its holder has gone.
        noHolder,
        // A process that may hold it cannot be looked at.
        unreadable,
        // The group the socket was made in has gone since: its maker can no
        // longer be named.
        groupGone,
        // The look took longer than it was given.
        timedOut,
        // The system's process tables could not be read.
        failed,
    };
    Outcome outcome { Outcome::failed };
    ClientProcess client;
};

class ClientProcesses {
public:
    using Deadline = std::chrono::steady_clock::time_point;

    virtual ~ClientProcesses() = default;
    // What is known of a connection's client without looking through any
    // process: the sandbox its socket's group names, a served client that
    // holds it where it held its last one, a group known to have gone.
    // Nothing when only a search can tell. Cheap enough for every
    // connection, and safe beside a search running on another thread.
    virtual std::optional<ClientLookup> recognise(const PeerSocketLookup& peer) = 0;
    // The client at the other end of a connection of our own user, from
    // what the kernel tells of the peer's socket and of the processes that
    // may hold it; `timedOut` once `deadline` has passed.
    virtual ClientLookup ofPeerSocket(const PeerSocketLookup& peer, Deadline deadline) = 0;
    // For a client whose socket's group named its sandbox (`named`): the
    // process of that group holding the socket, whose view its paths mean.
    virtual ClientLookup findHolder(const PeerSocketLookup& peer, const ClientProcess& named, Deadline deadline) = 0;
    // A client that was served, to be recognised when it connects again.
    // Refused ones are never kept: they could push served ones out.
    virtual void rememberServed(const ClientProcess& client) = 0;
    // Whether the groups sockets are made in tell sandboxes apart here: a
    // user manager runs, which gives every sandbox a group of its own.
    virtual bool groupsNameSandboxes() const = 0;
};

} // namespace platform
