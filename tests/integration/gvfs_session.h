#pragma once

// A private session bus on which GVfs starts (gvfsd and its FUSE folder),
// a helper using it, and the servers GVfs mounts from, all on loopback.
#include "integration/helper_harness.h"

#include <gtest/gtest.h>

#include <csignal>

namespace harness {

using testing_support::eventually;

// A server the test started, asked to end with it; `command` starts with
// the program.
class Daemon : public testing_support::ChildProcess {
public:
    explicit Daemon(const std::vector<std::string>& command, const Environment& environment = {})
        : ChildProcess(command.front(), { command.begin() + 1, command.end() }, { .environment = environment, .endSignal = SIGTERM })
    {
    }
};

bool acceptsConnections(int port);

// A session bus in `runtime`, on which the desktop's own services (GVfs, the
// document portal) start when first asked; made this process's session bus
// and runtime folder, so that helpers started afterwards use them too.
// `environment`: what the services it starts see (a home of the test's own).
// Nothing when the bus does not come up.
std::optional<Daemon> startSessionBus(const std::filesystem::path& runtime, const Environment& environment = {});
std::string inQuotes(const std::string& text);

class GVfsSession : public testing::Test, protected HelperSession {
protected:
    // Skips the test unless the machine has GVfs with FUSE and `programs`;
    // callers go on only when it neither skipped nor failed (ready()).
    void startSession(const std::vector<std::filesystem::path>& programs);
    bool ready() const { return !IsSkipped() && !HasFatalFailure(); }

    std::optional<std::string> ask(const std::string& line);
    // Unmounts as another program would, out of the helper's sight.
    static void unmountElsewhere(const std::string& url);

    std::filesystem::path m_gvfsFolder;

private:
    std::optional<Daemon> m_bus;
};

} // namespace harness
