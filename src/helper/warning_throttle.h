#pragma once

#include <chrono>
#include <optional>

// Lets a warning through at most once per interval, so that a client that
// retries in a loop cannot flood the system log.
class WarningThrottle {
public:
    using Clock = std::chrono::steady_clock;
    explicit WarningThrottle(Clock::duration interval)
        : m_interval(interval)
    {
    }

    bool allows(Clock::time_point now);

private:
    Clock::duration m_interval;
    std::optional<Clock::time_point> m_lastAllowed;
};
