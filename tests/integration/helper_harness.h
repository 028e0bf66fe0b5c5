#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace harness {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A private copy of the built helper bundle and a home folder, both removed
// at the end, so a test can change the bundle on disk.
class HelperBundleCopy {
public:
    HelperBundleCopy();
    ~HelperBundleCopy();
    HelperBundleCopy(const HelperBundleCopy&) = delete;
    HelperBundleCopy& operator=(const HelperBundleCopy&) = delete;

    std::filesystem::path bundlePath() const { return m_root / "Ferrowind Helper.app"; }
    std::filesystem::path executablePath() const { return bundlePath() / "Contents/MacOS/Ferrowind Helper"; }
    std::filesystem::path infoPlistPath() const { return bundlePath() / "Contents/Info.plist"; }
    std::filesystem::path home() const { return m_root / "home"; }
    std::string shortVersion() const;
    void setShortVersion(const std::string& version);

    // Processes running this copy's executable.
    std::vector<pid_t> runningHelpers() const;
    void killRunningHelpers() const;

private:
    std::filesystem::path m_root;
};

// A helper started as a child of the test.
class HelperProcess {
public:
    // `environment`: variables set for the helper on top of the test's own.
    explicit HelperProcess(const HelperBundleCopy& bundle, std::optional<unsigned> descriptorLimit = std::nullopt,
        const std::vector<std::pair<std::string, std::string>>& environment = {});
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    pid_t pid() const { return m_pid; }
    // The exit status once the process has ended within the time given.
    std::optional<int> waitForExit(Clock::duration limit);

private:
    pid_t m_pid { -1 };
    bool m_reaped { false };
};

// A loopback client of the helper's line protocol.
class Client {
public:
    Client() = default;
    ~Client();
    Client(Client&& other) noexcept;
    Client& operator=(Client&& other) noexcept;
    Client(const Client&) = delete;

    // Connects, retrying while nothing listens yet.
    static std::optional<Client> connectTo(int port, Clock::duration limit = 10s);

    void send(const std::string& bytes) const;
    // The next line without its line feed, or nothing on close or time-out.
    std::optional<std::string> readLine(Clock::duration limit = 5s);
    // True when the helper closes the connection within the time given
    // without sending anything more.
    bool closedWithoutData(Clock::duration limit);
    // Ends the connection with a reset instead of an orderly close.
    void reset();
    int descriptor() const { return m_descriptor; }

private:
    explicit Client(int descriptor)
        : m_descriptor(descriptor)
    {
    }
    int m_descriptor { -1 };
    std::string m_pending;
};

// A plain listener holding one of the helper's ports.
class PortBlocker {
public:
    explicit PortBlocker(int port);
    ~PortBlocker();
    PortBlocker(const PortBlocker&) = delete;
    PortBlocker& operator=(const PortBlocker&) = delete;

private:
    int m_descriptor { -1 };
};

// Reaps children that ended, including helpers a relaunch left behind.
void reapExitedChildren();

// Raises this process's descriptor limit to at least `count`.
void raiseDescriptorLimit(unsigned count);

} // namespace harness
