#include "fakes/fake_platform.h"
#include "helper/already_launched.h"

#include <gtest/gtest.h>

namespace {

using platform::RunningApplication;

TEST(AlreadyLaunched, AnotherProcessWithOurNameCounts)
{
    FakePlatform fake;
    fake.applications.applications = { { "Terminal", 10, std::nullopt }, { "Ferrowind Helper", 11, std::nullopt } };
    EXPECT_TRUE(alreadyLaunched(fake.platform));
}

TEST(AlreadyLaunched, OurselvesAndNearMissesDoNotCount)
{
    FakePlatform fake;
    fake.applications.applications = {
        { "Ferrowind Helper", fake.applications.ownProcess, std::string("com.Ferrowind.Ferrowind-Helper") },
        { "ferrowind helper", 12, std::nullopt },
        { "Ferrowind Helper ", 13, std::nullopt },
        // The identifier is not compared, only the display name.
        { "Other", 14, std::string("com.Ferrowind.Ferrowind-Helper") },
    };
    EXPECT_FALSE(alreadyLaunched(fake.platform));
}

TEST(AlreadyLaunched, NoBundleNameMatchesNothing)
{
    FakePlatform fake;
    fake.platform.mainBundle.info = platform::InfoDictionary();
    fake.applications.applications = { { "", 11, std::nullopt }, { "Ferrowind Helper", 12, std::nullopt } };
    EXPECT_FALSE(alreadyLaunched(fake.platform));
}

} // namespace
