#pragma once

#include <string_view>

namespace platform::linux_sockets {

// Writes one reply line to a client socket in a single send that never waits
// and never raises SIGPIPE. The helper serves every client from one thread:
// a client that lets its replies pile up until the socket buffers are full
// must not stop it, and with it every other client. False when the line
// could not be written whole; since part of a line would corrupt the stream,
// the caller then closes the connection.
bool writeLineWithoutWaiting(int descriptor, std::string_view line);

} // namespace platform::linux_sockets
