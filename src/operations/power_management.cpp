#include "operations/non_sandboxable_functions.h"

namespace {

constexpr const char* kAssertionName = "Ferrowind is still downloading";

} // namespace

std::int32_t NonSandboxableFunctions::SendAppleEventToSystemProcess(OperationsPlatform& platform, std::uint32_t eventID)
{
    return platform.systemEvents.sendToSystemProcess(eventID);
}

bool NonSandboxableFunctions::sleepSystem(OperationsPlatform& platform)
{
    return SendAppleEventToSystemProcess(platform, platform::SystemEvents::kSleep) != 0;
}

bool NonSandboxableFunctions::shutdownSystem(OperationsPlatform& platform)
{
    return SendAppleEventToSystemProcess(platform, platform::SystemEvents::kShutDown) != 0;
}

bool NonSandboxableFunctions::allowSystemSleep(OperationsPlatform& platform)
{
    // A release that fails leaves nothing we could retry with any better
    // chance, so the identifier is forgotten either way.
    if (preventSleepAssertionID != kNoAssertion) {
        platform.powerAssertions.release(preventSleepAssertionID);
        preventSleepAssertionID = kNoAssertion;
    }
    return preventSleepAssertionID == kNoAssertion;
}

bool NonSandboxableFunctions::preventSystemSleep(OperationsPlatform& platform)
{
    // Downloads ask again and again while they run; one assertion is enough.
    if (preventSleepAssertionID == kNoAssertion) {
        auto status = platform.powerAssertions.createWithName(platform::PowerAssertions::kPreventUserIdleSystemSleep,
            platform::PowerAssertions::kLevelOn, kAssertionName, preventSleepAssertionID);
        if (status != platform::PowerAssertions::kSuccess)
            preventSleepAssertionID = kNoAssertion;
    }
    return preventSleepAssertionID != kNoAssertion;
}
