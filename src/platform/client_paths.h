#pragma once

#include "platform/client_process.h"

#include <memory>
#include <optional>
#include <string>

namespace platform {

// A path as a client sent it, turned into one the helper reaches the same
// file by.
struct ClientPath {
    enum class Status {
        reached,
        // Names nothing the client could reach either.
        missing,
        // Its file system did not answer within the bound of every walk.
        unreachable,
    };
    Status status { Status::missing };
    // Names the file here for as long as this object lives.
    std::string path;
    // Names it for a program started for the client, which outlives us;
    // nothing for a sandbox's file that could not be reached here, which no
    // program may look for in our view of the files.
    std::optional<std::string> pathForPrograms;
    std::shared_ptr<const void> keptOpen;
    // Where a sandbox's path was resolved here, the file itself, for a
    // program started for the client to be given open (see
    // ProcessLauncher::launchDetached): followed again by that program, the
    // path would mean what it means outside the sandbox. -1 otherwise.
    int fileForPrograms { -1 };
};

// A sandboxed client names files as its sandbox shows them: its own /tmp,
// document-portal folders. A file the document portal lends a client is
// answered for as the host file behind it.
class ClientPaths {
public:
    virtual ~ClientPaths() = default;
    virtual ClientPath reach(const ClientProcess& client, const std::string& path) const = 0;
};

} // namespace platform
