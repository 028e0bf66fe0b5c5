#pragma once

#include <string>
#include <vector>

namespace platform {

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;

    // Starts a program with the given arguments and this process's
    // environment; it is not waited for. False when it could not be started.
    virtual bool launchDetached(const std::string& program, const std::vector<std::string>& arguments) = 0;

    // Starts the application of a bundle in a session of its own.
    virtual bool openBundle(const std::string& bundlePath) = 0;

    // Starts the application of a bundle once this process has ended, so the
    // new copy does not meet the old one still running. Used to relaunch
    // ourselves.
    virtual bool openBundleAfterExit(const std::string& bundlePath) = 0;
};

} // namespace platform

namespace platform {

// To be called first thing in main. When this process was started by
// openBundleAfterExit, it blocks (for a bounded time) until the process that
// started it has ended; otherwise it returns at once.
void waitUntilOpenerHasExited();

} // namespace platform
