#include "helper/pending_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using State = PendingLine::State;
using Clock = PendingLine::Clock;

const Clock::time_point t0 {};

struct Arrival {
    std::string bytes;
    Clock::duration at;
};

struct Case {
    const char* name;
    std::vector<Arrival> arrivals;
    State state;
    std::string line;
};

// One connection's bytes as they arrive, read by read.
PendingLine fed(const std::vector<Arrival>& arrivals)
{
    PendingLine pending;
    for (auto const& arrival : arrivals)
        pending.receive(std::string_view(arrival.bytes).substr(0, pending.room()), t0 + arrival.at);
    return pending;
}

TEST(PendingLine, StateAfterEachConnectionsArrivals)
{
    const std::string longest(PendingLine::kMostBytes - 1, 'x');
    const std::vector<Case> cases {
        { "one read", { { "version\n", 0s } }, State::complete, "version\n" },
        { "over reads", { { "vers", 0s }, { "ion\r", 1s } }, State::complete, "version\r" },
        { "inner break kept", { { "version\nqu", 0s }, { "it\n", 1s } }, State::complete, "version\nquit\n" },
        { "unfinished", { { "version\nqu", 0s } }, State::waiting, "" },
        { "zero byte before the end", { { std::string("version\0\n", 9), 0s } }, State::refused, "" },
        { "invalid UTF-8", { { "x \"\xC3", 0s }, { "\"\n", 1s } }, State::refused, "" },
        { "longest line", { { longest, 0s }, { "\n", 1s } }, State::complete, longest + "\n" },
        { "full without a break", { { longest, 0s }, { "xx\n", 1s } }, State::refused, "" },
    };
    for (auto const& c : cases) {
        auto pending = fed(c.arrivals);
        auto [state, line] = pending.stateAndLine();
        EXPECT_EQ(state, c.state) << c.name;
        EXPECT_EQ(line, c.line) << c.name;
    }
}

// A client that trickles its line gets no more time than one that sends it
// at once.
TEST(PendingLine, TimeRunsFromTheLinesFirstByte)
{
    PendingLine pending;
    EXPECT_FALSE(pending.deadline());
    pending.receive("", t0);
    EXPECT_FALSE(pending.deadline());
    pending.receive("v", t0 + 1s);
    pending.receive("e", t0 + 3s);
    EXPECT_EQ(pending.deadline(), t0 + 1s + PendingLine::kTimeLimit);
    EXPECT_FALSE(pending.expiredAt(t0 + 3999ms));
    EXPECT_TRUE(pending.expiredAt(t0 + 4s));
}

} // namespace
