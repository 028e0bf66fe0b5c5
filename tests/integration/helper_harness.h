#pragma once

#include "support/child_process.h"
#include "support/temporary_directory.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace harness {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_support::Environment;

// The first of the helper's ports: the one it takes when nothing holds it.
constexpr int kPort = 9483;

// A private copy of the built helper bundle and a home folder, both removed
// at the end, so a test can change the bundle on disk.
class HelperBundleCopy {
public:
    HelperBundleCopy();
    ~HelperBundleCopy();

    std::filesystem::path bundlePath() const { return m_root.path() / "Ferrowind Helper.app"; }
    std::filesystem::path executablePath() const { return bundlePath() / "Contents/MacOS/Ferrowind Helper"; }
    std::filesystem::path infoPlistPath() const { return bundlePath() / "Contents/Info.plist"; }
    std::filesystem::path home() const { return m_root.path() / "home"; }
    std::string shortVersion() const;
    void setShortVersion(const std::string& version);

    // Processes running this copy's executable.
    std::vector<pid_t> runningHelpers() const;
    void killRunningHelpers() const;

private:
    testing_support::TemporaryDirectory m_root { "ferrowind-helper-test" };
};

// A helper started as a child of the test.
class HelperProcess {
public:
    // `environment`: variables set for the helper on top of the test's own;
    // `standardError`: a file for its standard error instead of the test's.
    explicit HelperProcess(const HelperBundleCopy& bundle, std::optional<unsigned> descriptorLimit = std::nullopt,
        const Environment& environment = {}, const std::string& standardError = {});

    pid_t pid() const { return m_process.pid(); }
    // The exit status once the process has ended within the time given.
    std::optional<int> waitForExit(Clock::duration limit);

private:
    testing_support::ChildProcess m_process;
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
    // Sends `line` as it is and returns the next line that comes back.
    std::optional<std::string> ask(const std::string& line, Clock::duration limit = 5s);
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

// The helper's log as it comes: the helper echoes its log lines to standard
// error when that is a terminal, so this gives it one to write to.
class HelperLogTerminal {
public:
    HelperLogTerminal();
    ~HelperLogTerminal();
    HelperLogTerminal(const HelperLogTerminal&) = delete;
    HelperLogTerminal& operator=(const HelperLogTerminal&) = delete;

    // For HelperProcess's standardError.
    std::string path() const { return m_path; }
    // True once a log line holding `text` has come, within the time given.
    bool waitForLine(const std::string& text, Clock::duration limit = 10s);

private:
    int m_master { -1 };
    std::string m_path;
    std::string m_seen;
};

// A process of another user (nobody) forked from the test, running `work`
// with the writing end of a pipe to report on; ended with the test case.
// Where this process may not become another user (see mayActAsAnotherUser),
// `work` runs as the test's own user.
class OtherUserProcess {
public:
    static constexpr uid_t kUser = 65534;
    explicit OtherUserProcess(void (*work)(int report));
    ~OtherUserProcess();
    OtherUserProcess(const OtherUserProcess&) = delete;
    OtherUserProcess& operator=(const OtherUserProcess&) = delete;

    // The next byte `work` reported, or nothing within the time given.
    std::optional<char> report(Clock::duration limit);

private:
    int m_report { -1 };
    std::optional<testing_support::ChildProcess> m_process;
};

// Root, with another user to become: cases that need the kernel to see two
// users skip without.
bool mayActAsAnotherUser();

// A connection on `port` past the helper's welcome line, or nothing when
// nobody greets in time.
std::optional<Client> greetedClient(int port = kPort, Clock::duration connectLimit = 10s, Clock::duration welcomeLimit = 5s);

// A helper of the test's own bundle copy and a client it has greeted.
class HelperSession {
public:
    // Starts the helper (as HelperProcess does) and connects `m_client`;
    // throws when the helper does not greet.
    void start(std::optional<unsigned> descriptorLimit = std::nullopt, const Environment& environment = {});
    // A further client past the welcome line; throws when none is greeted.
    Client greeted() const;
    std::optional<std::string> ask(const std::string& line, Clock::duration limit = 5s) { return m_client.ask(line, limit); }
    // What `version` answers.
    std::string version() const { return "\"" + m_bundle.shortVersion() + "\""; }
    // A new client is greeted and answered, and the helper has not ended.
    void expectStillServing();

    HelperBundleCopy m_bundle;
    std::optional<HelperProcess> m_helper;
    Client m_client;
};

// Reaps children that ended, including helpers a relaunch left behind.
void reapExitedChildren();

// Raises this process's descriptor limit to at least `count`.
void raiseDescriptorLimit(unsigned count);

} // namespace harness
