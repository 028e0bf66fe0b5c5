#pragma once

#include "fakes/fake_application_control.h"
#include "fakes/fake_power.h"
#include "fakes/fake_volumes.h"
#include "fakes/recorded.h"
#include "helper/helper_platform.h"
#include "platform/linux_platform.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

// Stand-ins for the platform services, recording what the logic asked of
// them. Safe to read from the test thread while a listener thread runs.

class FakeSystemLog final : public platform::SystemLog {
public:
    void write(std::string_view line) override
    {
        std::unique_lock lock(m_mutex);
        sendWaiting(lock);
        m_sent.emplace_back(line);
    }
    void writeLater(std::string_view line) override
    {
        std::lock_guard lock(m_mutex);
        m_waiting.emplace_back(line);
    }
    void sendWaitingLines() override
    {
        std::unique_lock lock(m_mutex);
        sendWaiting(lock);
    }
    bool hasWaitingLines() const override
    {
        std::lock_guard lock(m_mutex);
        return !m_waiting.empty();
    }

    // Every line written, in order, waiting ones included.
    std::vector<std::string> lines() const
    {
        std::lock_guard lock(m_mutex);
        auto all = m_sent;
        all.insert(all.end(), m_waiting.begin(), m_waiting.end());
        return all;
    }
    std::vector<std::string> sentLines() const
    {
        std::lock_guard lock(m_mutex);
        return m_sent;
    }
    // While held, sending lines that wait waits too, as for a log daemon
    // that is slow to take them.
    void holdSending(bool held)
    {
        std::lock_guard lock(m_mutex);
        m_held = held;
        m_released.notify_all();
    }

private:
    void sendWaiting(std::unique_lock<std::mutex>& lock)
    {
        m_released.wait(lock, [this] { return !m_held || m_waiting.empty(); });
        m_sent.insert(m_sent.end(), m_waiting.begin(), m_waiting.end());
        m_waiting.clear();
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_held { false };
    std::vector<std::string> m_sent;
    std::vector<std::string> m_waiting;
};

class FakeUserAccount final : public platform::UserAccount {
public:
    std::string loginName() const override
    {
        if (failing)
            throw std::runtime_error("user database unavailable");
        return name;
    }
    std::string name { "tester" };
    bool failing { false };
};

class FakeRunningApplications final : public platform::RunningApplications {
public:
    std::vector<platform::RunningApplication> list() const override { return applications; }
    platform::ProcessID currentProcessIdentifier() const override { return ownProcess; }

    std::vector<platform::RunningApplication> applications;
    platform::ProcessID ownProcess { 4242 };
};

class FakeProcessLauncher final : public platform::ProcessLauncher {
public:
    using Launch = std::pair<std::string, std::vector<std::string>>;
    bool launchDetached(const std::string& program, const std::vector<std::string>& arguments, int passedFile) override
    {
        m_launched.add({ program, arguments });
        lastPassedFile = passedFile;
        return !launchFails;
    }
    bool openBundle(const std::string& bundlePath) override { return m_opened.add(bundlePath), true; }
    bool openBundleAfterExit(const std::string& bundlePath) override { return m_openedAfterExit.add(bundlePath), true; }
    void handOverOnRelaunch(int) override { }
    int lastPassedFile { -1 };
    std::vector<Launch> launched() const { return m_launched.all(); }
    std::vector<std::string> opened() const { return m_opened.all(); }
    std::vector<std::string> openedAfterExit() const { return m_openedAfterExit.all(); }
    bool launchFails { false };

private:
    Recorded<Launch> m_launched;
    Recorded<std::string> m_opened;
    Recorded<std::string> m_openedAfterExit;
};

class FakeMainRunLoop final : public platform::MainRunLoop {
public:
    int run() override { return 0; }
    void post(std::function<void()> work) override
    {
        std::lock_guard lock(m_mutex);
        m_posted.push_back(std::move(work));
    }
    using platform::MainRunLoop::requestTermination;
    void requestTermination(int) override
    {
        std::lock_guard lock(m_mutex);
        ++m_terminationRequests;
    }
    int terminationRequests() const
    {
        std::lock_guard lock(m_mutex);
        return m_terminationRequests;
    }
    std::size_t postedCount() const
    {
        std::lock_guard lock(m_mutex);
        return m_posted.size();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::function<void()>> m_posted;
    int m_terminationRequests { 0 };
};

class FakeSleeper final : public platform::Sleeper {
public:
    void sleepFor(std::chrono::milliseconds duration) override
    {
        m_sleeps.add(duration);
        if (whileAsleep)
            whileAsleep();
    }
    // What the world does while the caller sleeps.
    std::function<void()> whileAsleep;
    std::vector<std::chrono::milliseconds> sleeps() const { return m_sleeps.all(); }

private:
    Recorded<std::chrono::milliseconds> m_sleeps;
};

// Holders and the query's outcome are set by the test.
class FakeOpenFileHolders final : public platform::OpenFileHolders {
public:
    Openers otherOpeners(const std::string& path) const override
    {
        probedPaths.push_back(path);
        return openers;
    }
    Query forEachHolder(const std::string& path, const Processes& among,
        const std::function<Scan(platform::ProcessID)>& holder) const override
    {
        queriedPaths.push_back(path);
        std::string processes = among.onlyListed ? "only" : "all but";
        for (auto pid : among.listed)
            processes += " " + std::to_string(pid);
        queriedProcesses.push_back(processes);
        if (outcome != Query::answered)
            return outcome;
        for (auto pid : holders) {
            if ((std::ranges::find(among.listed, pid) != among.listed.end()) != among.onlyListed)
                continue;
            ++reported;
            if (holder(pid) == Scan::Stop)
                break;
        }
        return Query::answered;
    }
    std::vector<platform::ProcessID> holders;
    Query outcome { Query::answered };
    Openers openers { Openers::unknown };
    mutable std::vector<std::string> probedPaths;
    mutable std::vector<std::string> queriedPaths;
    // "only 10 11" or "all but 10 11": the processes each query looked into.
    mutable std::vector<std::string> queriedProcesses;
    mutable int reported { 0 };
};

class FakeFileManager final : public platform::FileManager {
public:
    platform::PathKind kindOfPath(const std::string& path) const override
    {
        askedPaths.push_back(path);
        auto found = kinds.find(path);
        return found == kinds.end() ? kind : found->second;
    }
    platform::PathKind kind { platform::PathKind::Missing };
    // Paths that answer otherwise than `kind`.
    std::map<std::string, platform::PathKind> kinds;
    mutable std::vector<std::string> askedPaths;
};

// A helper platform made of fakes, with a bundle "Ferrowind Helper" 3.0.1 at
// a path that need not exist.
struct FakePlatform {
    FakeSystemLog log;
    FakeUserAccount user;
    FakeRunningApplications applications;
    FakeProcessLauncher launcher;
    FakeMainRunLoop mainRunLoop;
    FakeSleeper sleeper;
    FakeOpenFileHolders openFileHolders;
    FakeFileManager fileManager;
    FakePowerAssertions powerAssertions;
    FakeSystemEvents systemEvents;
    FakeApplicationControl applicationControl;
    std::vector<platform::MediaPlayer> mediaPlayers { { "/fake/bin/vlc", { "--avi-index=2" }, "vlc" } };
    FakeVolumeURLs volumeURLs;
    FakeServerVolumeMounter volumeMounter;
    // The real one: it opens nothing until asked to listen, and the tests
    // that run the connection loop want real sockets.
    std::unique_ptr<platform::ConnectionSockets> sockets { platform::makeConnectionSockets() };
    // The real one too: a test's own clients are ordinary processes.
    std::unique_ptr<platform::ClientProcesses> clients { platform::makeClientProcesses() };
    std::unique_ptr<platform::ClientPaths> clientPaths { platform::makeClientPaths() };
    HelperPlatform platform { fakeBundle("/nonexistent/Ferrowind Helper.app"), log, user, applications, launcher, mainRunLoop, sleeper,
        withFileServices(applications, openFileHolders, fileManager), *sockets, *clients, *clientPaths };

    // The fakes, except for the services the file-busy check uses: tests that
    // run that check on the real system put the real ones in.
    OperationsPlatform withFileServices(platform::RunningApplications& runningApplications,
        platform::OpenFileHolders& holders, platform::FileManager& files)
    {
        return { runningApplications, holders, files, powerAssertions, systemEvents, applicationControl, launcher, sleeper,
            mediaPlayers, volumeURLs, volumeMounter };
    }

    static platform::Bundle fakeBundle(std::string path)
    {
        return { std::move(path), platform::InfoDictionary({
                                      { "CFBundleName", std::string("Ferrowind Helper") },
                                      { "CFBundleShortVersionString", std::string("3.0.1") },
                                      { "CFBundleIdentifier", std::string("com.Ferrowind.Ferrowind-Helper") },
                                  }) };
    }
};
