#include "helper/command_framing.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_view_literals;

void expectLine(std::string_view received, std::string_view line)
{
    auto framed = frameCommandLine(received);
    EXPECT_EQ(framed.framing, Framing::complete) << received;
    EXPECT_EQ(framed.line, line) << received;
}

void expectFraming(std::string_view received, Framing framing)
{
    EXPECT_EQ(frameCommandLine(received).framing, framing) << received;
}

TEST(CommandFraming, ALineEndsAtATrailingLineBreak)
{
    expectLine("version\n", "version\n");
    expectLine("version\r", "version\r");
    expectLine("version\r\n", "version\r\n");
    expectLine("\n", "\n");
}

TEST(CommandFraming, WaitsForMoreUntilTheTextEndsInALineBreak)
{
    expectFraming("", Framing::incomplete);
    expectFraming("vers", Framing::incomplete);
    expectFraming("version\nqu", Framing::incomplete);
}

TEST(CommandFraming, InnerLineBreaksDoNotSplit)
{
    expectLine("version\nquit\n", "version\nquit\n");
}

// A line with a zero byte before its end can never become a command line;
// it is given up as soon as it ends, not when its time runs out.
TEST(CommandFraming, TextStopsAtTheFirstZeroByte)
{
    expectLine("version\n\0garbage"sv, "version\n");
    expectFraming("vers\0ion"sv, Framing::incomplete);
    expectFraming("vers\0ion\n"sv, Framing::malformed);
    expectFraming("version\0\n"sv, Framing::malformed);
    expectFraming("\0version\r"sv, Framing::malformed);
}

TEST(CommandFraming, InvalidUtf8IsNeverComplete)
{
    expectFraming("x \"\xC3\"\n", Framing::malformed);
    expectFraming("\xFF\n", Framing::malformed);
    expectFraming("\xFF", Framing::incomplete);
    expectLine("x \"\xC3\xA9\"\n", "x \"\xC3\xA9\"\n");
}

} // namespace
