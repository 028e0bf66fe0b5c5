#include "operations/non_sandboxable_functions.h"

#include <chrono>
#include <functional>

namespace {

using platform::RunningApplication;

constexpr int kActivationAttempts = 10;
constexpr auto kPauseBetweenAttempts = std::chrono::milliseconds(500);

// Applications come and go between calls, so every call reads them afresh.
// Serves every match in the list's order; true when there was one.
bool forEachNamed(OperationsPlatform& platform, const std::string& name,
    const std::function<void(const RunningApplication&)>& serve)
{
    bool found = false;
    for (auto const& application : platform.applications.list()) {
        if (application.displayName != name)
            continue;
        found = true;
        serve(application);
    }
    return found;
}

} // namespace

bool NonSandboxableFunctions::terminateProcessNamed(OperationsPlatform& platform, const std::string& name)
{
    for (auto const& application : platform.applications.list()) {
        if (application.displayName == name) {
            platform.applicationControl.terminate(application.processIdentifier);
            return true;
        }
    }
    return false;
}

// An event that cannot be built for one application is simply not sent to
// it; the caller asked whether the application runs, and it does.
bool NonSandboxableFunctions::SendAppleEvent(OperationsPlatform& platform, std::uint32_t eventID, const std::string& name)
{
    return forEachNamed(platform, name, [&](const RunningApplication& application) {
        platform.applicationControl.sendCoreEvent(eventID, application.processIdentifier);
    });
}

// An application started just before may not be running yet; it is given up
// to ten looks, half a second apart, to appear.
bool NonSandboxableFunctions::makeFrontProcessNamed(OperationsPlatform& platform, const std::string& name)
{
    for (int attempt = 0; attempt < kActivationAttempts; ++attempt) {
        bool found = forEachNamed(platform, name, [&](const RunningApplication& application) {
            platform.applicationControl.activateWithAllWindows(application.processIdentifier);
        });
        if (found)
            return true;
        platform.sleeper.sleepFor(kPauseBetweenAttempts);
    }
    return false;
}
