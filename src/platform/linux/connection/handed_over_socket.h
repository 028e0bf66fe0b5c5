#pragma once

#include <cstdint>
#include <optional>

namespace platform::linux_sockets {

// The descriptor a socket-activated process finds its first socket at.
constexpr int kFirstHandedOverDescriptor = 3;

// The port of `descriptor` when it is a TCP socket listening on 127.0.0.1;
// nothing for anything else. What another process handed us is checked
// before we serve on it: the announcement is only an environment variable.
std::optional<std::uint16_t> loopbackListeningPort(int descriptor);

} // namespace platform::linux_sockets
