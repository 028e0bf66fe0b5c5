#pragma once

#include "platform/running_applications.h"

#include <cstdint>

namespace platform {

// Requests to another running application, addressed by its process. None of
// them waits for the application to comply, and a request that is refused or
// that reaches a process which has ended meanwhile goes unnoticed.
class ApplicationControl {
public:
    virtual ~ApplicationControl() = default;

    // Asks the application to quit, as a polite request it may handle.
    virtual void terminate(ProcessID process) = 0;

    // Brings every window of the application forward. Has no effect where
    // there is no desktop to show windows on.
    virtual void activateWithAllWindows(ProcessID process) = 0;

    enum class CoreEvent { Sent,
        CannotBeBuilt };

    // Sends the core event `eventID` (a four-character code) without waiting
    // for a reply. Only the events this desktop has a counterpart for can be
    // built; for any other nothing is sent.
    virtual CoreEvent sendCoreEvent(std::uint32_t eventID, ProcessID process) = 0;
};

} // namespace platform
