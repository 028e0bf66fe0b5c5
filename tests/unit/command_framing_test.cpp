#include "helper/command_framing.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_view_literals;

TEST(CommandFraming, ALineEndsAtATrailingLineBreak)
{
    EXPECT_EQ(completeCommandLine("version\n"), "version\n");
    EXPECT_EQ(completeCommandLine("version\r"), "version\r");
    EXPECT_EQ(completeCommandLine("version\r\n"), "version\r\n");
    EXPECT_EQ(completeCommandLine("\n"), "\n");
}

TEST(CommandFraming, WaitsForMoreUntilTheTextEndsInALineBreak)
{
    EXPECT_FALSE(completeCommandLine(""));
    EXPECT_FALSE(completeCommandLine("vers"));
    EXPECT_FALSE(completeCommandLine("version\nqu"));
}

TEST(CommandFraming, InnerLineBreaksDoNotSplit)
{
    EXPECT_EQ(completeCommandLine("version\nquit\n"), "version\nquit\n");
}

TEST(CommandFraming, TextStopsAtTheFirstZeroByte)
{
    EXPECT_EQ(completeCommandLine("version\n\0garbage"sv), "version\n");
    EXPECT_FALSE(completeCommandLine("vers\0ion\n"sv));
}

TEST(CommandFraming, InvalidUtf8IsNeverComplete)
{
    EXPECT_FALSE(completeCommandLine("x \"\xC3\"\n"));
    EXPECT_FALSE(completeCommandLine("\xFF\n"));
    EXPECT_EQ(completeCommandLine("x \"\xC3\xA9\"\n"), "x \"\xC3\xA9\"\n");
}

} // namespace
