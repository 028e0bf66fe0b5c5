#include "helper/cross_protocol_guard.h"
#include "helper/warning_throttle.h"

#include <gtest/gtest.h>

namespace {

TEST(CrossProtocolGuard, RecognisesRequestLinesOfAnyMethod)
{
    for (auto line : { "GET / HTTP/1.1\r\n", "POST /quit HTTP/1.1\r\n", "OPTIONS * HTTP/1.1\r\n",
             "PROPFIND /x HTTP/1.0\n", "GET / HTTP/1.1\r\nHost: 127.0.0.1:9483\r\n\r\n" })
        EXPECT_TRUE(looksLikeHttp(line)) << line;
}

TEST(CrossProtocolGuard, RecognisesHeaderNamesAsCommandWords)
{
    for (auto line : { "Host: 127.0.0.1:9483\r\n", "Origin: http://evil.example\r\n", "Content-Type: text/plain\n",
             "X-Custom:\n" })
        EXPECT_TRUE(looksLikeHttp(line)) << line;
}

// What the real client sends, and near misses that must still run.
TEST(CrossProtocolGuard, LetsCommandsThrough)
{
    for (auto line : { "version\n", "fileBusy \"/Volumes/Data/Downloads/part 1.rar\"\n",
             "fileBusy \"/Downloads/a HTTP/file\"\n", "SendAppleEvent  1903520116 , \"Preview\" \n",
             "makeFrontProcessNamed \"Host: thing\"\n", "GET /\n", "GET  HTTP/1.1\n", "\n", ":\n", "", "quit\r\n" })
        EXPECT_FALSE(looksLikeHttp(line)) << line;
}

TEST(CrossProtocolGuard, LooksOnlyAtTheFirstLine)
{
    EXPECT_FALSE(looksLikeHttp("version\nGET / HTTP/1.1\n"));
    EXPECT_TRUE(looksLikeHttp("GET / HTTP/1.1\nversion\n"));
}

TEST(WarningThrottle, AllowsOneWarningPerInterval)
{
    using namespace std::chrono_literals;
    WarningThrottle throttle(60s);
    WarningThrottle::Clock::time_point start {};
    EXPECT_TRUE(throttle.allows(start));
    EXPECT_FALSE(throttle.allows(start + 1s));
    EXPECT_FALSE(throttle.allows(start + 59s));
    EXPECT_TRUE(throttle.allows(start + 60s));
    EXPECT_FALSE(throttle.allows(start + 61s));
}

} // namespace
