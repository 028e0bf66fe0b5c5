#include "platform/linux/file_holders/stuck_walks.h"

#include <gtest/gtest.h>

namespace platform::linux_files {
namespace {

TEST(StuckWalks, OneFileSystemAtATimeAndAFewInAll)
{
    StuckWalks walks;
    walks.hold(1);
    EXPECT_FALSE(walks.admits(1));
    EXPECT_TRUE(walks.admits(2));
    for (dev_t fileSystem = 2; fileSystem <= StuckWalks::kMostStuck; ++fileSystem)
        walks.hold(fileSystem);
    EXPECT_FALSE(walks.admits(99)) << "no more threads may get stuck";
    walks.release(1);
    EXPECT_TRUE(walks.admits(1));
    EXPECT_EQ(walks.count(), StuckWalks::kMostStuck - 1);
}

} // namespace
} // namespace platform::linux_files
