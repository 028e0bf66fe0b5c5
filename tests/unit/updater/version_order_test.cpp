#include "updater/version_order.h"

#include <gtest/gtest.h>

namespace {

using updater::compareVersions;

struct Ordered {
    const char* older;
    const char* newer;
};

TEST(VersionOrder, NewerVersionsCompareAboveOlderOnesBothWays)
{
    const Ordered cases[] = {
        { "1.0.0", "1.0.1" },
        { "1.9", "1.10" },          // numbers, not text
        { "9", "10" },
        { "1.0", "1.0.1" },         // a missing part counts as 0
        { "1.0b1", "1.0" },         // letters left over: a pre-release
        { "1.0b1", "1.0b2" },
        { "1.0a9", "1.0b1" },
        { "1.0.b1", "1.0.1" },      // a number above letters in one place
        { "99999999999999999998", "99999999999999999999" }, // beyond 64 bits
        { "", "0.1" },
    };
    for (auto const& [older, newer] : cases) {
        EXPECT_LT(compareVersions(older, newer), 0) << older << " < " << newer;
        EXPECT_GT(compareVersions(newer, older), 0) << newer << " > " << older;
    }
}

TEST(VersionOrder, SeparatorsAndLeadingZerosDoNotMakeAVersionNewer)
{
    EXPECT_EQ(compareVersions("1.0", "1.0.0"), 0);
    EXPECT_EQ(compareVersions("1.02", "1.2"), 0);
    EXPECT_EQ(compareVersions("1-2_3", "1.2.3"), 0);
    EXPECT_EQ(compareVersions("2.0", "2.0"), 0);
}

} // namespace
