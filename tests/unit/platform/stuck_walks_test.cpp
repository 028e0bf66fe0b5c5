#include "platform/linux/kernel_tables/stuck_walks.h"

#include <gtest/gtest.h>

namespace platform::linux_files {
namespace {

TEST(StuckWalks, OneAtATimePerFileSystemAndOthersAlwaysWalked)
{
    StuckWalks walks;
    walks.hold(1);
    EXPECT_FALSE(walks.admits(1));
    for (dev_t fileSystem = 2; fileSystem < StuckWalks::kMostStuckInAll; ++fileSystem) {
        EXPECT_TRUE(walks.admits(fileSystem)) << "silent ones so far cost nothing here";
        walks.hold(fileSystem);
    }
    EXPECT_TRUE(walks.admits(99));
    walks.hold(StuckWalks::kMostStuckInAll);
    EXPECT_FALSE(walks.admits(99)) << "no more threads may get stuck";
    walks.release(1);
    EXPECT_TRUE(walks.admits(1));
    EXPECT_EQ(walks.count(), StuckWalks::kMostStuckInAll - 1);
}

} // namespace
} // namespace platform::linux_files
