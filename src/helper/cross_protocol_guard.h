#pragma once

#include <chrono>
#include <optional>
#include <string_view>

// A web page in the user's own browser can make it send an HTTP request to
// our loopback port. Such a request must never run as commands; the real
// client never sends a line that looks like HTTP, so refusing these costs it
// nothing.
//
// True when the command line opens like an HTTP request line
// ("METHOD target HTTP/...") or its command word is a header name such as
// "Host:" or "Origin:".
bool looksLikeHttp(std::string_view commandLine);

// Lets a warning through at most once per interval, so that a page that
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
