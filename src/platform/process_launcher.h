#pragma once

#include <string>
#include <vector>

namespace platform {

// How a program started with a passed file names it.
inline constexpr const char* kPassedFilePath = "/proc/self/fd/3";

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;

    // Starts a program with the given arguments and this process's
    // environment; it is not waited for. False when it could not be started.
    // `passedFile`: a descriptor the program gets as its descriptor 3, which
    // it names kPassedFilePath; -1 for none.
    virtual bool launchDetached(const std::string& program, const std::vector<std::string>& arguments, int passedFile = -1) = 0;

    // Starts the application of a bundle in a session of its own.
    virtual bool openBundle(const std::string& bundlePath) = 0;

    // Starts the application of a bundle once this process has ended, so the
    // new copy does not meet the old one still running. Used to relaunch
    // ourselves.
    virtual bool openBundleAfterExit(const std::string& bundlePath) = 0;

    // From now on openBundleAfterExit gives the new process a copy of
    // `listeningSocket` as its descriptor 3, announced the way systemd's
    // socket activation does (LISTEN_FDS=1, LISTEN_PID), so that the port is
    // never free between the two processes: clients that connect meanwhile
    // wait in its queue for the new process. The copy is kept until this
    // process ends.
    virtual void handOverOnRelaunch(int listeningSocket) = 0;
};

} // namespace platform

namespace platform {

// To be called first thing in main. When this process was started by
// openBundleAfterExit, it blocks (for a bounded time) until the process that
// started it has ended; otherwise it returns at once.
void waitUntilOpenerHasExited();

} // namespace platform
