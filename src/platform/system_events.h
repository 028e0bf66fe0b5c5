#pragma once

#include "platform/four_char_code.h"

#include <cstdint>

namespace platform {

// Core events to the system process: put the computer to sleep, shut it
// down, restart it. Delivery only; the system acts on them afterwards.

class SystemEvents {
public:
    virtual ~SystemEvents() = default;

    static constexpr std::uint32_t kSleep = fourCharCode("slep");
    static constexpr std::uint32_t kShutDown = fourCharCode("shut");
    static constexpr std::uint32_t kRestart = fourCharCode("rest");

    // Statuses: 0 when the event was delivered.
    static constexpr std::int32_t kDelivered = 0;
    static constexpr std::int32_t kSystemProcessUnreachable = -600;
    static constexpr std::int32_t kEventNotHandled = -1708;
    static constexpr std::int32_t kTimedOut = -1712;
    static constexpr std::int32_t kEventRefused = -10000;

    // Sends the core event `eventID` to the system process. An event the
    // system has no meaning for answers kEventNotHandled without being sent.
    virtual std::int32_t sendToSystemProcess(std::uint32_t eventID) = 0;
};

} // namespace platform
