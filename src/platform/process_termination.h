#pragma once

#include "platform/running_applications.h"

#include <chrono>
#include <memory>

namespace platform {

// Ending processes without asking them first.
class ProcessTermination {
public:
    virtual ~ProcessTermination() = default;

    // Ends the process at once; it gets no chance to refuse or to clean up.
    // A process that has gone already is no error, so nothing is reported.
    virtual void forceTerminate(ProcessID process) = 0;

    // True once the process has ended (a zombie has ended), false when it
    // still runs after `bound`.
    virtual bool waitUntilEnded(ProcessID process, std::chrono::milliseconds bound) = 0;
};

std::unique_ptr<ProcessTermination> makeProcessTermination();

} // namespace platform
