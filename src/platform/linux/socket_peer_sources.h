#pragma once

// The two places the kernel tells who owns the peer of a loopback TCP
// connection; findPeerSocket asks the first and falls back to the second.

#include "platform/socket_peer.h"

namespace platform::linux_sockets {

// sock_diag: an exact lookup of the one socket by both of its endpoints.
PeerSocketLookup peerFromSocketDiagnostics(int acceptedConnection);
// /proc/net/tcp of our network namespace, read whole.
PeerSocketLookup peerFromProcNetTcp(int acceptedConnection);

} // namespace platform::linux_sockets
