#pragma once

#include "platform/running_applications.h"
#include "platform/socket_peer.h"

#include <memory>
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
struct ClientLookup {
    enum class Outcome {
        // `client` holds the peer socket.
        found,
        // No process we can see holds it: it was passed on in a message, say,
        // or its holder has gone.
        noHolder,
        // A process that may hold it cannot be looked at.
        unreadable,
        // The system's process tables could not be read.
        failed,
    };
    Outcome outcome { Outcome::failed };
    ClientProcess client;
};

class ClientProcesses {
public:
    virtual ~ClientProcesses() = default;
    // The client at the other end of a connection of our own user, from
    // what the kernel tells of the peer's socket.
    virtual ClientLookup ofPeerSocket(const PeerSocketLookup& peer) = 0;
};

} // namespace platform
