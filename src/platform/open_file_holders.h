#pragma once

#include "platform/running_applications.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Which processes have a file open. Processes that only watch a file for
// changes are not holders.
class OpenFileHolders {
public:
    virtual ~OpenFileHolders() = default;

    enum class Scan { Continue,
        Stop };
    enum class Query {
        answered,
        // The path cannot be examined, or the process table cannot be read.
        failed,
        // The path's file system did not answer within the bound (a network
        // server gone silent): whether the file exists cannot be told either.
        unreachable,
    };

    enum class Openers {
        none,
        some,
        // Not a regular file, not the user's, or a file system that cannot
        // tell without asking a server.
        unknown,
        // As for Query::unreachable.
        unreachable,
    };

    // Whether any process other than us, of whichever user, has `path` open
    // or mapped, asked of the kernel in one step, without looking at any
    // process. References
    // opened with O_PATH and watches do not count.
    virtual Openers otherOpeners(const std::string& path) const = 0;

    // The processes a query looks into: only the listed ones, or every
    // process but those.
    struct Processes {
        bool onlyListed { false };
        std::vector<ProcessID> listed;
        static Processes only(std::vector<ProcessID> processes) { return { true, std::move(processes) }; }
        static Processes allBut(std::vector<ProcessID> processes) { return { false, std::move(processes) }; }
    };

    // Calls `holder` once for each of `among` that has `path` open or
    // mapped, in no particular order, until it answers Stop. The calls come
    // one at a time, though not necessarily on the caller's thread; all are
    // over when this returns. No holder is reported unless the query is
    // answered. Like otherOpeners, it passes over descriptors opened with
    // O_PATH. Processes it may not look into are passed over.
    virtual Query forEachHolder(const std::string& path, const Processes& among, const std::function<Scan(ProcessID)>& holder) const = 0;
};

} // namespace platform
