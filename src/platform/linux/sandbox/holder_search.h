#pragma once

// Who holds a connection's socket among some processes of the user, where
// no group names its maker: its holders are all the evidence there is.

#include "platform/client_process.h"
#include "platform/linux/sandbox/socket_holding.h"

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::sandbox {

// A process that held a client's socket, as found then.
struct FoundHolder {
    ClientProcess client;
    // The task that held it, shared by every connection found held by it.
    std::shared_ptr<const ProcessDirectory> task;
    int descriptor { -1 };
};

// What one search of the candidates found.
struct HolderSearch {
    std::optional<FoundHolder> sandboxed;
    std::optional<FoundHolder> ordinary;
    bool sandboxesDisagree { false };
    // A process that may be a sandbox and may hold the socket could not be
    // looked at: it may be the one speaking, whoever else holds it.
    bool vetoed { false };
    // A process of ours that cannot be looked at, sandbox or not.
    bool unreadable { false };
    bool timedOut { false };
};

// Searches `candidates` for the socket (newest first). Processes in another
// mount namespace are few and every one of them is searched, so that a
// sandbox holding the socket is never missed; the many others are searched
// only when no sandbox holds it, and the first holder among them is
// evidence enough. Daemons that carry descriptors for
// others are passed over.
HolderSearch searchHolders(std::vector<pid_t> candidates, const std::string& socketLink, Deadline deadline);

// A sandbox that holds the socket speaks through it, whoever else does; two
// different sandboxes holding one socket are not one client, and one that
// may be a sandbox but cannot be looked at vetoes whatever else was found.
// `controlGroup`: the id of the group the socket was made in, kept with
// the client to recognise its next connection.
ClientLookup conclude(const HolderSearch& found, std::uint64_t controlGroup);

// The holder a conclusion rests on, if any.
const std::optional<FoundHolder>& chosenHolder(const HolderSearch& found);

} // namespace platform::sandbox
