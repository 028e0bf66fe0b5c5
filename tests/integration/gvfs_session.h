#pragma once

// A private session bus on which GVfs starts (gvfsd and its FUSE folder),
// a helper using it, and the servers GVfs mounts from, all on loopback.
#include "integration/helper_harness.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/types.h>

namespace harness {

// A program the test started, ended with it.
class Daemon {
public:
    explicit Daemon(std::vector<std::string> arguments);
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

private:
    pid_t m_pid { -1 };
};

bool waitFor(const std::function<bool()>& condition, Clock::duration limit = 10s);
bool acceptsConnections(int port);
std::string inQuotes(const std::string& text);

class GVfsSession : public testing::Test {
protected:
    // Skips the test unless the machine has GVfs with FUSE and `programs`;
    // callers go on only when it neither skipped nor failed (ready()).
    void startSession(const std::vector<std::filesystem::path>& programs);
    bool ready() const { return !IsSkipped() && !HasFatalFailure(); }

    std::optional<std::string> ask(const std::string& line);
    // Unmounts as another program would, out of the helper's sight.
    static void unmountElsewhere(const std::string& url);

    HelperBundleCopy m_bundle;
    std::filesystem::path m_gvfsFolder;

private:
    std::optional<Daemon> m_bus;
    std::optional<HelperProcess> m_helper;
    Client m_client;
};

} // namespace harness
