#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Assertions that keep the computer from going to sleep on its own while
// they are held. Creating one does not stop a sleep that someone asks for.
class PowerAssertions {
public:
    virtual ~PowerAssertions() = default;

    using AssertionID = std::uint32_t;

    // The assertion type that holds off idle sleep only (the display may
    // still sleep), and the level that turns an assertion on.
    static constexpr const char* kPreventUserIdleSystemSleep = "PreventUserIdleSystemSleep";
    static constexpr std::uint32_t kLevelOn = 255;

    // Statuses: 0 on success, otherwise a failure of the power service.
    static constexpr std::int32_t kSuccess = 0;
    static constexpr std::int32_t kError = static_cast<std::int32_t>(0xE00002BC);
    static constexpr std::int32_t kUnsupported = static_cast<std::int32_t>(0xE00002C7);
    static constexpr std::int32_t kNotFound = static_cast<std::int32_t>(0xE00002F0);

    // Takes an assertion named `name` (shown to the user where the system
    // lists what keeps it awake) and stores its identifier in `assertionID`
    // on success. kUnsupported for a type or level this system cannot
    // express, kError when no power service accepts it.
    virtual std::int32_t createWithName(const std::string& type, std::uint32_t level, const std::string& name,
        AssertionID& assertionID)
        = 0;

    // Gives the assertion back; kNotFound for an identifier not held.
    virtual std::int32_t release(AssertionID assertionID) = 0;

    // The process is ending in order: gives back whatever it still holds and
    // takes nothing more. Where assertions end with their process anyway
    // there is nothing to do; where a desktop service has to notice a client
    // vanish, handing them back spares it that.
    virtual void releaseAllAtExit() { }
};

} // namespace platform
