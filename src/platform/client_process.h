#pragma once

#include "platform/running_applications.h"

#include <cstdint>
#include <string>

namespace platform {

// Where a connecting client of the user runs. A sandboxed client is any
// application of that sandbox: its sandbox, not its user, says whom it acts
// for.
struct ClientProcess {
    enum class Sandbox {
        // An ordinary process of the session: none in another mount
        // namespace holds the peer socket.
        none,
        // A Flatpak application; applicationId is its application id.
        flatpak,
        // A strictly confined snap; applicationId is the snap's name.
        snap,
        // Another mount namespace that is neither: a toolbox or podman
        // container of the user, which sees its own file system.
        container,
    };
    Sandbox sandbox { Sandbox::none };
    // The process holding the peer socket, in the helper's PID namespace;
    // 0 for an ordinary process, which is not looked for.
    ProcessID process { 0 };
    std::string applicationId;
};

class ClientProcesses {
public:
    virtual ~ClientProcesses() = default;
    // The client at the other end of a connection, from the inode of the
    // peer's socket.
    virtual ClientProcess ofPeerSocket(std::uint64_t peerSocketInode) const = 0;
};

} // namespace platform
