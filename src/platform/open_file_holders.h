#pragma once

#include "platform/running_applications.h"

#include <functional>
#include <string>

namespace platform {

// Which processes have a file open. Processes that only watch a file for
// changes are not holders.
class OpenFileHolders {
public:
    virtual ~OpenFileHolders() = default;

    enum class Scan { Continue, Stop };
    enum class Query {
        answered,
        // The path cannot be examined, or the process table cannot be read.
        failed,
        // The path's file system did not answer within the bound (a network
        // server gone silent): whether the file exists cannot be told either.
        unreachable,
    };

    // Calls `holder` once for each process that has `path` open, in no
    // particular order, until it answers Stop. The calls come one at a time,
    // though not necessarily on the caller's thread; all are over when this
    // returns. No holder is reported unless the query is answered.
    virtual Query forEachHolder(const std::string& path, const std::function<Scan(ProcessID)>& holder) const = 0;
};

} // namespace platform
