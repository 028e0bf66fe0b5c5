#pragma once

// Whether a process holds a given socket: one of its descriptor tables (the
// process's own, or a thread's made without sharing it) has it open.

#include "platform/linux/kernel_tables/process_directory.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace platform::sandbox {

using procfs::ProcessDirectory;
using procfs::ProcessStatus;
using Deadline = std::chrono::steady_clock::time_point;

struct SocketHolding {
    enum class Result {
        holds,
        doesNotHold,
        // Its descriptors cannot be listed: another user's, or made
        // unreadable on purpose.
        unreadable,
        // The deadline passed before its tables were read through.
        timedOut,
    };
    Result result { Result::doesNotHold };
    // The thread whose own table holds it; nothing when the process's does.
    std::optional<ProcessDirectory> thread;
    // Where it holds it: a client that reconnects usually gets the same
    // number again, which is then the first one looked at.
    int descriptor { -1 };
};

// How /proc names a socket's descriptors: "socket:[INODE]".
std::string socketLinkOf(std::uint64_t inode);

// Whether the process's own table has the socket at `descriptor`: a look
// that needs no descriptor of ours, so it works when we have none left.
bool holdsAt(const ProcessDirectory& process, int descriptor, const std::string& socketLink);

// `likelyDescriptor`: a number to look at first, or -1. A process with a
// great many descriptors is read only until `deadline`.
SocketHolding findSocketIn(const ProcessDirectory& process, const ProcessStatus& status, const std::string& socketLink, Deadline deadline, int likelyDescriptor = -1);
// The same, reading the process's status first; held by nobody there when
// it has gone.
SocketHolding findSocketIn(const ProcessDirectory& process, const std::string& socketLink, Deadline deadline);

} // namespace platform::sandbox
