#pragma once

// Plain loopback TCP for tests: the addresses, a free port, a connection.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

namespace testing_support {

inline sockaddr_in loopbackAddress(std::uint16_t port = 0)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

inline std::uint16_t boundPort(int descriptor)
{
    sockaddr_in address {};
    socklen_t length = sizeof address;
    if (getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("socket has no address");
    return ntohs(address.sin_port);
}

// Bound and listening at a port the kernel picks.
inline int listeningOnLoopback(int backlog = 1)
{
    int descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto address = loopbackAddress();
    if (bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(descriptor, backlog) != 0)
        throw std::runtime_error("cannot listen on loopback");
    return descriptor;
}

// A port the kernel just handed out and took back: free, and out of the
// helper's range, so a helper running here does not get in the way.
inline std::uint16_t freeLoopbackPort()
{
    int descriptor = listeningOnLoopback();
    auto port = boundPort(descriptor);
    close(descriptor);
    return port;
}

// A connected socket, or -1 when nobody listens there.
inline int connectToLoopback(std::uint16_t port)
{
    int descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto address = loopbackAddress(port);
    if (connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return descriptor;
    close(descriptor);
    return -1;
}

// Closes with a reset, as a client that vanished does.
inline void closeWithReset(int descriptor)
{
    linger abortive { 1, 0 };
    setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    close(descriptor);
}

} // namespace testing_support
