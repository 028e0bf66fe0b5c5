// Hostile and broken clients: requests of another protocol, processes of
// other users, clients that never read. Each case ends by checking that the
// helper still answers its own user.
#include "integration/helper_harness.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace harness;

constexpr int kPort = 9483;
constexpr uid_t kNobody = 65534;

class Hardening : public testing::Test {
protected:
    void SetUp() override
    {
        m_helper.emplace(m_bundle);
        auto client = Client::connectTo(kPort);
        ASSERT_TRUE(client) << "the helper did not start listening";
        ASSERT_TRUE(client->readLine());
    }

    Client greeted()
    {
        auto client = Client::connectTo(kPort);
        EXPECT_TRUE(client);
        EXPECT_TRUE(client->readLine()) << "no welcome line";
        return std::move(*client);
    }

    void expectStillServing()
    {
        auto client = greeted();
        client.send("version\n");
        EXPECT_EQ(client.readLine(), "\"" + m_bundle.shortVersion() + "\"");
        EXPECT_FALSE(m_helper->waitForExit(0s)) << "the helper ended";
    }

    HelperBundleCopy m_bundle;
    std::optional<HelperProcess> m_helper;
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

// Connects as another user and tells, by its exit status, what it saw:
// 0 closed without a byte, 1 data arrived, 2 neither within the limit,
// 3 could not become that user or connect.
int connectAsOtherUser()
{
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)
        return 3;
    int descriptor = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(kPort);
    if (connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return 3;
    pollfd entry { descriptor, POLLIN, 0 };
    if (poll(&entry, 1, 5000) <= 0)
        return 2;
    char byte;
    return recv(descriptor, &byte, 1, 0) <= 0 ? 0 : 1;
}

TEST_F(Hardening, ProcessOfAnotherUserIsClosedWithoutWelcome)
{
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    pid_t child = fork();
    if (child == 0)
        _exit(connectAsOtherUser());
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: got data, 2: not closed, 3: could not connect as another user";
    expectStillServing();
}

} // namespace
