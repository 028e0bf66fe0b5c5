// Hostile and broken clients: requests of another protocol, processes of
// other users, clients that never read. Each case ends by checking that the
// helper still answers its own user.
#include "integration/helper_harness.h"
#include "support/loopback.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace harness;

class Hardening : public testing::Test, protected HelperSession {
protected:
    explicit Hardening(std::optional<unsigned> descriptorLimit = std::nullopt)
        : m_descriptorLimit(descriptorLimit)
    {
    }

    void SetUp() override
    {
        start(m_descriptorLimit);
        m_client = {}; // closed, so the cases count every descriptor of the helper
    }

    std::optional<unsigned> m_descriptorLimit;
};

TEST_F(Hardening, HttpRequestLineIsClosedUnansweredAndWhatFollowsIsNotRun)
{
    auto browser = greeted();
    browser.send("POST / HTTP/1.1\r\n");
    std::this_thread::sleep_for(50ms);
    browser.send("Host: 127.0.0.1:9483\r\nContent-Type: text/plain\r\n\r\nquit\n");
    EXPECT_TRUE(browser.closedWithoutData(5s));
    expectStillServing();
}

TEST_F(Hardening, HttpRequestWhoseBodyLacksALineEndIsClosedAtOnce)
{
    auto browser = greeted();
    auto start = Clock::now();
    browser.send("POST / HTTP/1.1\r\nHost: 127.0.0.1:9483\r\nContent-Length: 4\r\n\r\nquit");
    EXPECT_TRUE(browser.closedWithoutData(5s));
    EXPECT_LT(Clock::now() - start, 1s) << "the helper waited for the rest of the line";
    expectStillServing();
}

TEST_F(Hardening, HeaderLineAloneIsClosedUnanswered)
{
    auto browser = greeted();
    browser.send("Origin: http://evil.example\r\n");
    EXPECT_TRUE(browser.closedWithoutData(5s));
    expectStillServing();
}

// Connects as another user and reports what it saw: '0' closed without a
// byte, '1' data arrived, '2' neither within the limit, '3' could not connect.
void connectAndReport(int report)
{
    int descriptor = testing_support::connectToLoopback(kPort);
    char seen = '3';
    if (descriptor >= 0) {
        pollfd entry { descriptor, POLLIN, 0 };
        char byte;
        seen = poll(&entry, 1, 5000) <= 0 ? '2' : recv(descriptor, &byte, 1, 0) <= 0 ? '0'
                                                                                     : '1';
    }
    (void)!write(report, &seen, 1);
}

void expectOtherUserClosedWithoutAByte()
{
    if (!mayActAsAnotherUser())
        GTEST_SKIP() << "needs root to act as another user";
    OtherUserProcess other(connectAndReport);
    EXPECT_EQ(other.report(10s), '0') << "1: got data, 2: not closed, 3: could not connect; none: could not become another user";
}

TEST_F(Hardening, ProcessOfAnotherUserIsClosedWithoutWelcome)
{
    expectOtherUserClosedWithoutAByte();
    expectStillServing();
}

// The helper's own user holds every descriptor but one, so nothing can be
// opened at the moment another user connects.
class HardeningAtDescriptorLimit : public Hardening {
protected:
    HardeningAtDescriptorLimit()
        : Hardening(kLimit)
    {
    }

    void fillToOneBelowTheLimit()
    {
        // A full exchange first: UBSan's first check of a call needs a
        // descriptor of its own, which would fail its own way.
        m_idle.push_back(greeted());
        m_idle.back().send("version\n");
        ASSERT_TRUE(m_idle.back().readLine());
        for (unsigned i = 0; i < kLimit; ++i) {
            auto client = Client::connectTo(kPort);
            ASSERT_TRUE(client);
            if (!client->readLine(2s))
                break; // shed: the helper has no descriptor left
            m_idle.push_back(std::move(*client));
        }
        ASSERT_LT(m_idle.size(), kLimit) << "the helper never ran out of descriptors";
        m_idle.pop_back();
        std::this_thread::sleep_for(200ms);
        m_idle.front().send("version\n"); // lets the loop notice the closed one
        ASSERT_TRUE(m_idle.front().readLine());
    }

    static constexpr unsigned kLimit = 64;
    std::vector<Client> m_idle;
};

TEST_F(HardeningAtDescriptorLimit, ProcessOfAnotherUserIsClosedWithoutWelcome)
{
    ASSERT_NO_FATAL_FAILURE(fillToOneBelowTheLimit());
    expectOtherUserClosedWithoutAByte();
    m_idle.front().send("version\n");
    EXPECT_EQ(m_idle.front().readLine(), "\"" + m_bundle.shortVersion() + "\"");
    EXPECT_FALSE(m_helper->waitForExit(0s)) << "the helper ended";
}

} // namespace
