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

    // Calls `holder` once for each process that has `path` open, in no
    // particular order, until it answers Stop. The calls come one at a time,
    // though not necessarily on the caller's thread; all are over when this
    // returns. False, before any holder is reported, when the query
    // itself fails: the path cannot be examined or the process table cannot
    // be read.
    virtual bool forEachHolder(const std::string& path, const std::function<Scan(ProcessID)>& holder) const = 0;
};

} // namespace platform
