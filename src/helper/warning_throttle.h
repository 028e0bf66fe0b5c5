#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

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

// One throttle per cause: a warning about one sandboxed application must
// not hide the first warning about another. Causes are few (one per
// application installed); should a flood of them come, the oldest are
// forgotten, which at worst lets a warning through early.
class WarningThrottles {
public:
    explicit WarningThrottles(WarningThrottle::Clock::duration interval)
        : m_interval(interval)
    {
    }

    bool allows(const std::string& cause, WarningThrottle::Clock::time_point now);

private:
    static constexpr std::size_t kMostCauses = 64;
    WarningThrottle::Clock::duration m_interval;
    std::map<std::string, WarningThrottle> m_throttles;
};
