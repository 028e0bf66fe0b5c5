#include "platform/linux_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <numeric>
#include <thread>
#include <vector>

namespace platform {
namespace {

using namespace std::chrono_literals;

// The loop runs on a thread of its own, which plays the main thread.
class MainRunLoopTest : public ::testing::Test {
protected:
    void startLoopThread()
    {
        loopThread = std::thread([this] { exitStatus.set_value(loop->run()); });
    }

    // The exit status of run(), if it returned within the bound.
    std::optional<int> loopExitStatus()
    {
        auto result = exitStatus.get_future();
        if (result.wait_for(10s) != std::future_status::ready) {
            ADD_FAILURE() << "the main run loop did not end";
            std::abort(); // The loop thread cannot be joined.
        }
        loopThread.join();
        return result.get();
    }

    std::unique_ptr<MainRunLoop> loop = makeMainRunLoop();
    std::promise<int> exitStatus;
    std::thread loopThread;
};

TEST_F(MainRunLoopTest, RunsWorkPostedFromAnotherThreadOnTheLoopThreadInOrder)
{
    startLoopThread();
    const auto loopThreadID = loopThread.get_id();
    std::vector<int> order;
    std::vector<std::thread::id> ranOn;
    std::thread poster([&] {
        for (int index = 0; index < 100; ++index) {
            loop->post([&, index] {
                order.push_back(index);
                ranOn.push_back(std::this_thread::get_id());
            });
        }
        loop->requestTermination();
    });
    poster.join();

    EXPECT_EQ(loopExitStatus(), 0);
    std::vector<int> expectedOrder(100);
    std::iota(expectedOrder.begin(), expectedOrder.end(), 0);
    EXPECT_EQ(order, expectedOrder);
    EXPECT_EQ(std::count(ranOn.begin(), ranOn.end(), loopThreadID), 100);
}

TEST_F(MainRunLoopTest, QueuesWorkPostedBeforeRunAndWorkPostedByWork)
{
    std::atomic<std::thread::id> ranOn;
    loop->post([&] {
        ranOn = std::this_thread::get_id();
        loop->post([&] { loop->requestTermination(); });
    });
    EXPECT_EQ(ranOn.load(), std::thread::id()) << "post must queue, not run the work itself";

    startLoopThread();
    const auto loopThreadID = loopThread.get_id();

    EXPECT_EQ(loopExitStatus(), 0);
    EXPECT_EQ(ranOn.load(), loopThreadID);
}

TEST_F(MainRunLoopTest, EndsWhenTerminationIsRequestedFromAnotherThreadBeforeOrDuringRun)
{
    std::thread([&] { loop->requestTermination(); }).join();
    startLoopThread();
    EXPECT_EQ(loopExitStatus(), 0);

    exitStatus = {};
    startLoopThread();
    std::promise<void> running;
    loop->post([&] { running.set_value(); });
    ASSERT_EQ(running.get_future().wait_for(10s), std::future_status::ready);
    std::thread([&] { loop->requestTermination(); }).join();
    EXPECT_EQ(loopExitStatus(), 0);
}

} // namespace
} // namespace platform
