#pragma once

#include <cstdint>

namespace platform {

using UserId = std::uint32_t;

// Who is on the other end of an accepted loopback TCP connection: the owner
// and inode of the peer's own socket, as the kernel's socket tables give it.
struct PeerSocketLookup {
    enum class Outcome {
        found,
        // The tables were read and hold no live socket for that peer: it has
        // gone, or is not a socket of this machine's loopback.
        notFound,
        // The tables could not be read this time (the kernel was short of
        // memory, say); a later lookup may succeed.
        unavailable,
        // This system offers no table to read at all, as found out once when
        // the lookup was made.
        unsupported,
    };
    Outcome outcome { Outcome::unavailable };
    UserId owner { 0 };
    std::uint64_t inode { 0 };
    // The control group of the process that made the peer's socket, as the
    // kernel numbers them; 0 where it is not told.
    std::uint64_t controlGroup { 0 };
};

// The real user id of this process.
UserId processUserId();

} // namespace platform
