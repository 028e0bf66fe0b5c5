#pragma once

#include <sys/types.h>

namespace platform {

// Who is on the other end of an accepted loopback TCP connection: the owner
// and inode of the peer's own socket, as the kernel's socket tables give it.
struct PeerSocketLookup {
    enum class Outcome {
        found,
        // The tables were read and hold no live socket for that peer: it has
        // gone, or is not a socket of this machine's loopback.
        notFound,
        // Neither the socket-diagnostics interface nor /proc/net/tcp could
        // be read, so nothing is known.
        unavailable,
    };
    Outcome outcome { Outcome::unavailable };
    uid_t owner { 0 };
    ino_t inode { 0 };
};

PeerSocketLookup findPeerSocket(int acceptedConnection);

// The real user id of this process.
uid_t processUserId();

} // namespace platform
