#include "platform/linux/connection/reply_writing.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace {

using platform::linux_sockets::writeLineWithoutWaiting;

class SocketPair : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_ends), 0); }
    void TearDown() override
    {
        for (int end : m_ends)
            if (end >= 0)
                close(end);
    }
    int m_ends[2] { -1, -1 };
};

TEST_F(SocketPair, WritesTheWholeLine)
{
    EXPECT_TRUE(writeLineWithoutWaiting(m_ends[0], "\"1.0.0\"\n"));
    char received[16] {};
    EXPECT_EQ(read(m_ends[1], received, sizeof received), 8);
    EXPECT_EQ(std::string(received), "\"1.0.0\"\n");
}

// The client never reads: once the buffers are full, the writer must give up
// at once instead of blocking the helper's only thread.
TEST_F(SocketPair, GivesUpInsteadOfWaitingForAClientThatNeverReads)
{
    int small = 4096;
    setsockopt(m_ends[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    const std::string line(100, 'x');
    int written = 0;
    while (written < 1000000 && writeLineWithoutWaiting(m_ends[0], line))
        ++written;
    EXPECT_LT(written, 1000000);
}

TEST_F(SocketPair, FailsWithoutSignalWhenThePeerHasGone)
{
    close(m_ends[1]);
    m_ends[1] = -1;
    EXPECT_FALSE(writeLineWithoutWaiting(m_ends[0], "1\n"));
}

} // namespace
