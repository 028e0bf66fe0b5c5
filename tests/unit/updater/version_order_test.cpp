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
        { "1.9", "1.10" }, // numbers, not text
        { "9", "10" },
        { "1.0", "1.0.1" }, // a missing part counts as 0
        { "1.0b1", "1.0" }, // letters left over: a pre-release
        { "1.0b1", "1.0b2" },
        { "1.0a9", "1.0b1" },
        { "1.0.b1", "1.0.1" }, // a number above letters in one place
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
    EXPECT_EQ(compareVersions("1.2 (3)", "1.2_(3)"), 0) << "separators are alike";
    EXPECT_EQ(compareVersions("2.0", "2.0"), 0);
}

enum Order { Older = -1,
    Same = 0,
    Newer = 1 };

struct Assertion {
    const char* left;
    const char* right;
    Order leftIs;
};

// Every active assertion of Sparkle's own comparator tests: feeds written
// for Sparkle must order their items the same way here.
TEST(VersionOrder, AgreesWithSparklesComparator)
{
    const Assertion cases[] = {
        { "1.0", "1.1", Older },
        { "1.0", "1.0", Same },
        { "2.0", "1.1", Newer },
        { "0.1", "0.0.1", Newer },
        { "0.1", "0.1.2", Older },
        { "1.0", "1.0.0", Same },
        { "1.0.0", "1.0", Same },
        // commit hashes after a dash are not read
        { "1.5.5-335d3e2", "1.5.6-b252311", Older },
        { "1.5.5-335d3e2", "1.5.5-a655360", Same },
        { "1.5.6-b252311", "1.5.5-335d3e2", Newer },
        { "1.5-335d3e2", "1.5.0-335d3e2", Same },
        { "1.5.0-335d3e2", "1.5-335d3e2", Same },
        // pre-releases
        { "1.5.5", "1.5.6a1", Older },
        { "1.1.0b1", "1.1.0b2", Older },
        { "1.1.1b2", "1.1.2b1", Older },
        { "1.1.1b2", "1.1.2a1", Older },
        { "1.0a1", "1.0b1", Older },
        { "1.0b1", "1.0", Older },
        { "0.9", "1.0a1", Older },
        { "1.0b", "1.0b2", Older },
        { "1.0b10", "1.0b11", Older },
        { "1.0b9", "1.0b10", Older },
        { "1.0rc", "1.0", Older },
        { "1.0b", "1.0", Older },
        { "1.0pre1", "1.0", Older },
        { "1.0pre1", "1.0.0pre1", Same },
        { "1.0.0pre1", "1.0pre1", Same },
        // build numbers: only the leading numbers and periods are padded
        { "1.0 (1234)", "1.0 (1235)", Older },
        { "1.0b1 (1234)", "1.0 (1234)", Older },
        { "1.0b5 (1234)", "1.0b5 (1235)", Older },
        { "1.0b5 (1234)", "1.0.1b5 (1234)", Older },
        { "1.0.1b5 (1234)", "1.0.1b6 (1234)", Older },
        { "2.0.0.2429", "2.0.0.2430", Older },
        { "1.1.1.1818", "2.0.0.2430", Older },
        { "3.3 (5847)", "3.3.1b1 (5902)", Older },
        { "3.3 (5847)", "3.3.0 (5847)", Same },
        { "3.3.0 (5847)", "3.3 (5847)", Same },
        { "1.1.1.1818", "1.1.1.1818.0", Same },
        { "1.1.1.1818.0", "1.1.1.1818", Same },
        { "3.3b1 (5902)", "3.3.0b1 (5902)", Same },
        { "3.3.0b1 (5902)", "3.3b1 (5902)", Same },
        // reverse-date numbers
        { "201210251627", "201211051041", Older },
        { "201210251627.0", "201210251627", Same },
        { "201210251627", "201210251627.0", Same },
    };
    for (auto const& [left, right, leftIs] : cases)
        EXPECT_EQ(compareVersions(left, right), leftIs) << left << " vs " << right;
}

} // namespace
