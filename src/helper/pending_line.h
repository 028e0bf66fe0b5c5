#pragma once

#include "helper/command_framing.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The part of a command line that one connection has sent so far, and the
// time by which the rest must have arrived. Each connection has its own, so
// that a client that sends slowly holds up no one but itself.
class PendingLine {
public:
    using Clock = std::chrono::steady_clock;
    // The longest command line, line break included.
    static constexpr std::size_t kMostBytes = 2047;
    // Counted from the line's first byte, so that a client cannot keep its
    // line open for longer by sending a byte now and then.
    static constexpr Clock::duration kTimeLimit = std::chrono::seconds(3);

    enum class State {
        waiting,
        complete,
        // Malformed, or kMostBytes without a line break: the connection is
        // closed unanswered.
        refused,
    };

    // How many bytes the line can still take.
    std::size_t room() const { return kMostBytes - m_received.size(); }
    // Bytes that arrived at `now`; the caller reads no more than room().
    void receive(std::string_view bytes, Clock::time_point now);

    // What the bytes so far make, and the command line once complete.
    std::pair<State, std::string_view> stateAndLine() const;
    std::string_view received() const { return m_received; }
    // None before the first byte.
    std::optional<Clock::time_point> deadline() const { return m_deadline; }
    bool expiredAt(Clock::time_point now) const { return m_deadline && now >= *m_deadline; }

private:
    State stateOf(const FramedLine& framed) const;

    // Grows with what arrives: most connections are idle between lines.
    std::string m_received;
    std::optional<Clock::time_point> m_deadline;
};
