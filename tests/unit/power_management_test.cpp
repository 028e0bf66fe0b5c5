#include "fakes/fake_platform.h"
#include "helper/network_listener.h"
#include "operations/non_sandboxable_functions.h"

#include <gtest/gtest.h>

namespace {

using Functions = NonSandboxableFunctions;

// The assertion identifier lives as long as the process; every test starts
// from "none held" as a fresh helper does.
class PowerManagement : public testing::Test {
protected:
    void SetUp() override { Functions::preventSleepAssertionID = Functions::kNoAssertion; }
    void TearDown() override { Functions::preventSleepAssertionID = Functions::kNoAssertion; }

    FakePlatform fake;
    OperationsPlatform& operations { fake.platform.operations };
};

TEST_F(PowerManagement, PreventCreatesOneIdleSleepAssertionAndKeepsIt)
{
    EXPECT_TRUE(Functions::preventSystemSleep(operations));
    EXPECT_TRUE(Functions::preventSystemSleep(operations));
    ASSERT_EQ(fake.powerAssertions.creations.size(), 1u);
    auto const& creation = fake.powerAssertions.creations.front();
    EXPECT_EQ(creation.type, "PreventUserIdleSystemSleep");
    EXPECT_EQ(creation.level, 255u);
    EXPECT_EQ(creation.name, "Ferrowind is still downloading");
    EXPECT_EQ(Functions::preventSleepAssertionID, 7u);
}

TEST_F(PowerManagement, AllowReleasesTheHeldAssertionAndPreventThenTakesANewOne)
{
    Functions::preventSystemSleep(operations);
    EXPECT_TRUE(Functions::allowSystemSleep(operations));
    EXPECT_EQ(fake.powerAssertions.releases, std::vector<std::uint32_t> { 7 });
    EXPECT_EQ(Functions::preventSleepAssertionID, Functions::kNoAssertion);

    EXPECT_TRUE(Functions::preventSystemSleep(operations));
    EXPECT_EQ(fake.powerAssertions.creations.size(), 2u);
    EXPECT_EQ(Functions::preventSleepAssertionID, 8u);
}

TEST_F(PowerManagement, AllowWithoutAssertionMakesNoCall)
{
    EXPECT_TRUE(Functions::allowSystemSleep(operations));
    EXPECT_TRUE(Functions::allowSystemSleep(operations));
    EXPECT_TRUE(fake.powerAssertions.releases.empty());
}

TEST_F(PowerManagement, RefusedCreationHoldsNothingAndLeavesNothingToRelease)
{
    fake.powerAssertions.refuseCreation = true;
    EXPECT_FALSE(Functions::preventSystemSleep(operations));
    EXPECT_EQ(Functions::preventSleepAssertionID, Functions::kNoAssertion);
    EXPECT_TRUE(Functions::allowSystemSleep(operations));
    EXPECT_TRUE(fake.powerAssertions.releases.empty());

    // Refusal is not remembered: the next request asks again.
    fake.powerAssertions.refuseCreation = false;
    EXPECT_TRUE(Functions::preventSystemSleep(operations));
    EXPECT_EQ(fake.powerAssertions.creations.size(), 2u);
}

TEST_F(PowerManagement, FailedReleaseStillForgetsTheAssertion)
{
    fake.powerAssertions.failRelease = true;
    Functions::preventSystemSleep(operations);
    EXPECT_TRUE(Functions::allowSystemSleep(operations));
    EXPECT_TRUE(Functions::allowSystemSleep(operations));
    EXPECT_EQ(fake.powerAssertions.releases.size(), 1u);
    EXPECT_TRUE(Functions::preventSystemSleep(operations));
    EXPECT_EQ(fake.powerAssertions.creations.size(), 2u);
}

TEST_F(PowerManagement, SleepAndShutdownSendTheirEventAndReportFailureAsTrue)
{
    EXPECT_FALSE(Functions::sleepSystem(operations));
    EXPECT_FALSE(Functions::shutdownSystem(operations));
    EXPECT_EQ(fake.systemEvents.events, (std::vector<std::uint32_t> { 1936483696, 1936225652 }));

    fake.systemEvents.status = platform::SystemEvents::kSystemProcessUnreachable;
    EXPECT_TRUE(Functions::sleepSystem(operations));
    EXPECT_TRUE(Functions::shutdownSystem(operations));
    EXPECT_EQ(Functions::SendAppleEventToSystemProcess(operations, 1), -600);
}

// The event row as a client sees it; the other rows are driven over the
// wire by the integration tests.
class PowerCommands : public PowerManagement {
protected:
    NetworkListener listener { fake.platform };
};

TEST_F(PowerCommands, EventRowAnswersZeroForDeliveredAndOneOtherwise)
{
    EXPECT_EQ(listener.processCommand("SendAppleEventToSystemProcess 1936483696\n"), "0");
    EXPECT_EQ(listener.processCommand("SendAppleEventToSystemProcess \"1920234356\"\n"), "0");
    // Codes above the signed range arrive wrapped; the bits are the code.
    EXPECT_EQ(listener.processCommand("SendAppleEventToSystemProcess -1\n"), "0");
    EXPECT_EQ(fake.systemEvents.events, (std::vector<std::uint32_t> { 1936483696, 1920234356, 0xFFFFFFFF }));

    fake.systemEvents.status = platform::SystemEvents::kEventNotHandled;
    EXPECT_EQ(listener.processCommand("SendAppleEventToSystemProcess 42\n"), "1");
    EXPECT_EQ(listener.processCommand("SendAppleEventToSystemProcess\n"), "<nil>");
    EXPECT_EQ(fake.systemEvents.events.size(), 4u);
}

} // namespace
