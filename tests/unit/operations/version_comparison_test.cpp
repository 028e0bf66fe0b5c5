#include "operations/named_exception.h"
#include "operations/non_sandboxable_functions.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(CompareVersion, ComparesComponentsByLeadingNumber)
{
    const std::tuple<const char*, const char*, int> cases[] {
        { "1.2", "1.2", 0 },
        { "1.2", "1.3", -1 },
        { "1.3", "1.2", 1 },
        { "1.10", "1.9", 1 },
        { "2", "10.0", -1 },
        { "3.0.1b", "3.0.1", 0 },
        { "1.beta", "1.0", 0 },
        { "", "0", 0 },
        { "", "1", -1 },
        { "1..2", "1.0.2", 0 },
        { "-1", "0", -1 },
        { "99999999999", "2147483647", 0 },
    };
    for (auto [first, second, expected] : cases)
        EXPECT_EQ(NonSandboxableFunctions::compareVersion(first, second), expected) << first << " vs " << second;
}

TEST(CompareVersion, TheLongerOfOtherwiseEqualVersionsIsTheNewer)
{
    EXPECT_EQ(NonSandboxableFunctions::compareVersion("1.2.1", "1.2"), 1);
    EXPECT_EQ(NonSandboxableFunctions::compareVersion("1.2", "1.2.1"), -1);
    EXPECT_EQ(NonSandboxableFunctions::compareVersion("1.2.0", "1.2"), 1);
    EXPECT_EQ(NonSandboxableFunctions::compareVersion("1.2", "1.2."), -1);
    // A difference before either runs out still decides.
    EXPECT_EQ(NonSandboxableFunctions::compareVersion("1.3", "1.2.9"), 1);
}

TEST(HelperVersion, AlwaysFailsWithItsNameAndReason)
{
    for (int call = 0; call < 2; ++call) {
        try {
            NonSandboxableFunctions::helperVersion();
            ADD_FAILURE() << "helperVersion returned";
        } catch (const NamedException& failure) {
            EXPECT_EQ(failure.name(), "Illegal call on class");
            EXPECT_EQ(failure.reason(), "Should have been handled by layers before");
        }
    }
}

} // namespace
