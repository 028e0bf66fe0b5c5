#pragma once

// Reading /proc/net/tcp, the fallback source of socket owners when the
// socket-diagnostics interface is missing.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform::linux_sockets {

struct TcpEndpoint {
    std::uint32_t address { 0 }; // as in sin_addr.s_addr
    std::uint16_t port { 0 }; // host byte order
};

struct TcpSocketOwner {
    uid_t owner { 0 };
    ino_t inode { 0 };
};

// The owner of the IPv4 socket bound to `local` and connected to `remote`,
// from the text of /proc/net/tcp; nothing when no line matches. Malformed
// lines are skipped.
std::optional<TcpSocketOwner> findTcpSocket(std::string_view table, TcpEndpoint local, TcpEndpoint remote);

} // namespace platform::linux_sockets
