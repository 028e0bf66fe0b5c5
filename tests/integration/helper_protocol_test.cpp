// The command service as a client sees it, against the built bundle started
// as a process.
#include "integration/helper_harness.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace harness;

class HelperProtocol : public testing::Test, protected HelperSession {
protected:
    void SetUp() override { start(); }

    std::string welcomeLine() const
    {
        return "Ferrowind Helper/" + m_bundle.shortVersion() + " - " + getpwuid(getuid())->pw_name;
    }

    Client connected()
    {
        auto client = Client::connectTo(kPort);
        EXPECT_TRUE(client);
        auto welcome = client->readLine();
        EXPECT_EQ(welcome, welcomeLine()) << welcome.value_or("<none>");
        return std::move(*client);
    }
};

TEST_F(HelperProtocol, WelcomeNamesBundleVersionAndUser)
{
    auto client = Client::connectTo(kPort);
    ASSERT_TRUE(client);
    auto welcome = client->readLine();
    ASSERT_TRUE(welcome);
    EXPECT_EQ(*welcome, welcomeLine());
    EXPECT_EQ(m_bundle.shortVersion(), FERROWIND_VERSION);
}

TEST_F(HelperProtocol, AnswersEveryLineOnOneConnection)
{
    auto client = connected();
    client.send("version\n");
    EXPECT_EQ(client.readLine(), version());
    client.send("version 1,\"x\"\r\n");
    EXPECT_EQ(client.readLine(), version());
    client.send("version\r");
    EXPECT_EQ(client.readLine(), version());
    client.send("frobnicate 1,,2\n");
    EXPECT_EQ(client.readLine(), "<nil>");
}

TEST_F(HelperProtocol, FramingFollowsReadsNotLineBreaks)
{
    auto client = connected();
    // Two lines in one segment are one command line, whose word matches nothing.
    client.send("version\nquit\n");
    EXPECT_EQ(client.readLine(), "<nil>");
    // A line split over segments is read as one.
    client.send("ver");
    std::this_thread::sleep_for(300ms);
    client.send("sion\n");
    EXPECT_EQ(client.readLine(), version());
    // CR and LF in separate reads: the lone LF is a line of its own.
    client.send("version\r");
    EXPECT_EQ(client.readLine(), version());
    std::this_thread::sleep_for(100ms);
    client.send("\n");
    EXPECT_EQ(client.readLine(), "<nil>");
    client.send("version\n");
    EXPECT_EQ(client.readLine(), version());
}

TEST_F(HelperProtocol, IdleConnectionStaysOpen)
{
    auto client = connected();
    EXPECT_FALSE(client.closedWithoutData(4s));
    client.send("version\n");
    EXPECT_EQ(client.readLine(), version());
}

TEST_F(HelperProtocol, UnfinishedLineIsClosedAfterThreeSeconds)
{
    auto client = connected();
    auto started = Clock::now();
    client.send("version");
    EXPECT_TRUE(client.closedWithoutData(6s));
    EXPECT_GE(Clock::now() - started, 2900ms);
    connected();
}

TEST_F(HelperProtocol, LineOf2047BytesWithoutBreakIsClosed)
{
    auto client = connected();
    client.send(std::string(2047, 'x'));
    EXPECT_TRUE(client.closedWithoutData(2s));

    auto tooLong = connected();
    tooLong.send(std::string(2047, 'x') + "\n");
    EXPECT_TRUE(tooLong.closedWithoutData(2s));

    // 2046 bytes and the line break still fit.
    auto longest = connected();
    longest.send("version " + std::string(2038, ' ') + "\n");
    EXPECT_EQ(longest.readLine(), version());
}

// One thread serves every client, so it must never wait for one: a client
// that trickles its line, or ends one that can never be a command, costs
// the others nothing.
TEST_F(HelperProtocol, SlowOrMalformedLinesHoldUpNoOneElse)
{
    auto trickling = connected();
    auto firstByte = Clock::now();
    trickling.send("v");
    std::vector<Client> malformed;
    for (auto const& line : { std::string("version\0\n", 9), std::string("\0version\n", 9), std::string("x \"\xC3\"\n") }) {
        malformed.push_back(connected());
        malformed.back().send(line);
    }
    for (auto& client : malformed)
        EXPECT_TRUE(client.closedWithoutData(1s));
    // A byte every 400 ms keeps the line coming, but its time runs from its
    // first byte.
    for (char byte : std::string("ersion ")) {
        EXPECT_EQ(m_client.ask("version\n", 1s), version());
        std::this_thread::sleep_for(400ms);
        trickling.send(std::string(1, byte));
    }
    EXPECT_TRUE(trickling.closedWithoutData(firstByte + 4s - Clock::now()));
    EXPECT_GE(Clock::now() - firstByte, 2900ms);
}

TEST_F(HelperProtocol, BadInputLeavesTheHelperServing)
{
    auto client = connected();
    // A lone quote, and rows whose parameter list is too short.
    std::pair<const char*, std::string> const exchanges[] = {
        { "x \"\n", "<nil>" },
        { "version \"\n", version() },
        { "version \" , \"\n", version() },
        { "SendAppleEvent 1903520116\n", "<nil>" },
        { "fileBusy\n", "<nil>" },
        { "\n", "<nil>" },
        { "\r", "<nil>" },
    };
    for (auto const& [line, reply] : exchanges) {
        client.send(line);
        EXPECT_EQ(client.readLine(), reply) << line;
    }
    // Not UTF-8, or a zero byte: never a command line, closed unanswered.
    auto binary = connected();
    binary.send(std::string("version\xff\n", 9));
    EXPECT_TRUE(binary.closedWithoutData(6s));
    client.send("version\n");
    EXPECT_EQ(client.readLine(), version());
}

TEST_F(HelperProtocol, ClientThatVanishesDoesNotEndTheHelper)
{
    for (int i = 0; i < 20; ++i) {
        auto gone = connected();
        gone.send("version\n");
        gone.reset();
    }
    // A client that resets before its welcome is even read.
    for (int i = 0; i < 20; ++i) {
        auto early = Client::connectTo(kPort);
        early->reset();
    }
    auto client = connected();
    client.send("version\n");
    EXPECT_EQ(client.readLine(), version());
    EXPECT_FALSE(m_helper->waitForExit(0s));
}

} // namespace
