// The updater's schedule and its hand-over between threads, driven with a
// fake clock: time passes only when the test fires the timer.
#include "fakes/fake_platform.h"
#include "helper/network_listener.h"
#include "support/temporary_directory.h"
#include "updater/automatic_update_driver.h"
#include "updater/automatic_updater.h"
#include "updater/retry_schedule.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>

namespace {

using namespace std::chrono_literals;
using namespace updater;
using Kind = CheckOutcome::Kind;

class FakeTimer final : public platform::MainThreadTimer {
public:
    void runAfter(std::chrono::seconds delay, std::function<void()> work) override
    {
        delays.push_back(delay);
        pending = std::move(work);
    }
    void cancel() override { pending = nullptr; }
    // The delay has passed.
    void fire()
    {
        ASSERT_TRUE(pending) << "no check is scheduled";
        auto work = std::move(pending);
        pending = nullptr;
        work();
    }
    std::vector<std::chrono::seconds> delays;
    std::function<void()> pending;
};

class QueueingRunLoop final : public platform::MainRunLoop {
public:
    int run() override { return 0; }
    void post(std::function<void()> work) override { queue.push_back(std::move(work)); }
    void requestTermination(int) override { ++terminationRequests; }
    void drain()
    {
        while (!queue.empty()) {
            auto work = std::move(queue.front());
            queue.pop_front();
            work();
        }
    }
    std::deque<std::function<void()>> queue;
    int terminationRequests { 0 };
};

class ScriptedCheck final : public UpdateCheck {
public:
    CheckOutcome run(const CheckRequest& request) override
    {
        requests.push_back(request);
        return { outcome, "scripted", nullptr };
    }
    Kind outcome { Kind::Failed };
    std::vector<CheckRequest> requests;
};

platform::Bundle bundleWith(std::map<std::string, platform::InfoValue, std::less<>> entries)
{
    return { "/nonexistent/Ferrowind Helper.app", platform::InfoDictionary(std::move(entries)) };
}

struct UpdaterRig {
    explicit UpdaterRig(platform::Bundle bundle = bundleWith({
                            { "SUFeedURL", std::string("http://127.0.0.1:1/appcast.xml") },
                            { "SUScheduledCheckInterval", std::int64_t { 3600 } },
                            { "CFBundleVersion", std::string("1.0") },
                        }))
        : updater(bundle, services(), check)
    {
    }

    UpdaterServices services()
    {
        // Work "in the background" is queued, so the test decides when it runs.
        return { log, launcher, loop, timer, [this](std::function<void()> work) { background.push_back(std::move(work)); } };
    }

    void finishBackgroundWork()
    {
        while (!background.empty()) {
            auto work = std::move(background.front());
            background.pop_front();
            work();
        }
        loop.drain();
    }

    FakeSystemLog log;
    FakeProcessLauncher launcher;
    QueueingRunLoop loop;
    FakeTimer timer;
    std::deque<std::function<void()>> background;
    std::shared_ptr<ScriptedCheck> check { std::make_shared<ScriptedCheck>() };
    AutomaticUpdater updater;
};

TEST(RetrySchedule, BacksOffFromFiveMinutesToTheIntervalAndNeverBeyond)
{
    const std::vector<long> expected { 3600, 300, 600, 1200, 2400, 3600, 3600 };
    for (unsigned failures = 0; failures < expected.size(); ++failures)
        EXPECT_EQ(delayBeforeNextCheck(failures, 3600s).count(), expected[failures]) << failures << " failures";
    EXPECT_EQ(delayBeforeNextCheck(1000, 86400s), 86400s) << "no overflow after many failures";
    EXPECT_EQ(delayBeforeNextCheck(9, 86400s), 76800s);
}

TEST(AutomaticUpdater, AFailingFeedIsRetriedWithGrowingSpacingUntilItWorks)
{
    UpdaterRig rig;
    rig.updater.setAutomaticallyDownloadsUpdates(true);
    rig.updater.setAutomaticallyChecksForUpdates(true);
    rig.updater.checkForUpdatesInBackground();
    EXPECT_TRUE(rig.check->requests.empty()) << "the check ran on the calling thread";
    rig.finishBackgroundWork();
    for (int retry = 0; retry < 5; ++retry) {
        rig.timer.fire();
        rig.finishBackgroundWork();
    }
    ASSERT_EQ(rig.check->requests.size(), 6u);
    EXPECT_TRUE(rig.check->requests.front().downloadUpdates);

    rig.check->outcome = Kind::NoUpdate;
    rig.timer.fire();
    rig.finishBackgroundWork();
    const std::vector<std::chrono::seconds> expected { 3600s, 300s, 600s, 1200s, 2400s, 3600s, 3600s, 3600s };
    EXPECT_EQ(rig.timer.delays, expected) << "first the schedule set up, then one delay after each check";
}

// The client asking again right after a failure must not push the next
// automatic check further away.
TEST(AutomaticUpdater, ARequestedCheckThatFailsDoesNotPushTheScheduleBack)
{
    UpdaterRig rig;
    rig.updater.setAutomaticallyChecksForUpdates(true);
    for (bool requested : { true, false, true, true, false }) {
        if (requested)
            rig.updater.checkForUpdatesInBackground();
        else
            rig.timer.fire();
        rig.finishBackgroundWork();
    }
    const std::vector<std::chrono::seconds> expected { 3600s, 300s, 600s, 600s, 600s, 1200s };
    EXPECT_EQ(rig.timer.delays, expected);
}

TEST(AutomaticUpdater, ARequestWhileACheckRunsStartsNoSecondOne)
{
    UpdaterRig rig;
    rig.updater.checkForUpdatesInBackground();
    rig.updater.checkForUpdatesInBackground();
    EXPECT_EQ(rig.background.size(), 1u);
    rig.finishBackgroundWork();
    rig.updater.checkForUpdatesInBackground();
    rig.finishBackgroundWork();
    EXPECT_EQ(rig.check->requests.size(), 2u);
    EXPECT_TRUE(rig.timer.delays.empty()) << "nothing is scheduled unless checks are automatic";
}

TEST(AutomaticUpdater, WithoutAFeedChecksDoNothingAndSaySoOnce)
{
    UpdaterRig rig(bundleWith({ { "CFBundleVersion", std::string("1.0") } }));
    rig.updater.setAutomaticallyChecksForUpdates(true);
    for (int i = 0; i < 3; ++i) {
        rig.updater.checkForUpdatesInBackground();
        rig.finishBackgroundWork();
    }
    EXPECT_TRUE(rig.check->requests.empty());
    auto lines = rig.log.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](auto const& line) { return line.find("SUFeedURL") != std::string::npos; }), 1);
}

TEST(AutomaticUpdater, AResultArrivingAfterTheUpdaterHasGoneIsDropped)
{
    FakeSystemLog log;
    FakeProcessLauncher launcher;
    QueueingRunLoop loop;
    FakeTimer timer;
    std::deque<std::function<void()>> background;
    auto check = std::make_shared<ScriptedCheck>();
    {
        AutomaticUpdater updater(bundleWith({ { "SUFeedURL", std::string("file:///nonexistent") } }),
            { log, launcher, loop, timer, [&](std::function<void()> work) { background.push_back(std::move(work)); } }, check);
        updater.checkForUpdatesInBackground();
    }
    ASSERT_EQ(background.size(), 1u);
    background.front()();
    EXPECT_EQ(check->requests.size(), 1u);
    EXPECT_TRUE(loop.queue.empty()) << "a result was posted for an updater that no longer exists";
}

class DriverTest : public ::testing::Test {
protected:
    static void makeBundle(const std::filesystem::path& bundle, const std::string& marker)
    {
        std::filesystem::create_directories(bundle / "Contents");
        std::ofstream(bundle / "Contents/marker") << marker;
    }

    std::shared_ptr<PreparedUpdate> prepared()
    {
        auto staging = StagingFolder::createBeside(installed().string());
        EXPECT_TRUE(staging);
        auto bundle = std::filesystem::path(staging->path()) / "Ferrowind Helper.app";
        makeBundle(bundle, "new");
        return std::make_shared<PreparedUpdate>(PreparedUpdate { { "2.0", "2.0", "u", {}, {} }, std::move(*staging), bundle.string() });
    }

    std::filesystem::path installed() const { return root / "Ferrowind Helper.app"; }
    std::size_t entriesInRoot() const
    {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(root), std::filesystem::directory_iterator()));
    }

    testing_support::TemporaryDirectory m_scratch { "ferrowind-driver-test" };
    std::filesystem::path root { m_scratch.path() };
    FakeSystemLog log;
    FakeProcessLauncher launcher;
    QueueingRunLoop loop;
};

TEST_F(DriverTest, UnpackedUpdateIsSwappedInTheOldOneRemovedAndTheHelperRelaunched)
{
    makeBundle(installed(), "old");
    {
        AutomaticUpdateDriver driver({ log, launcher, loop }, installed().string(), prepared());
        EXPECT_TRUE(driver.unarchiverDidFinish({}));
    }
    std::ifstream marker(installed() / "Contents/marker");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(marker), {}), "new");
    EXPECT_EQ(entriesInRoot(), 1u) << "the old bundle or the staging folder is left";
    EXPECT_EQ(launcher.openedAfterExit(), std::vector<std::string> { installed().string() });
    EXPECT_EQ(loop.terminationRequests, 1);
}

TEST_F(DriverTest, AFailedSwapNeitherRelaunchesNorEnds)
{
    {
        AutomaticUpdateDriver driver({ log, launcher, loop }, installed().string(), prepared());
        EXPECT_FALSE(driver.installWithToolAndRelaunch(true, false));
    }
    EXPECT_FALSE(std::filesystem::exists(installed())) << "nothing was installed where nothing was";
    EXPECT_EQ(entriesInRoot(), 0u);
    EXPECT_TRUE(launcher.openedAfterExit().empty());
    EXPECT_EQ(loop.terminationRequests, 0);
}

// The shared updater as the helper drives it: startSparkleUpdater and the
// checkUpdate command.
class RecordingUpdater final : public Updater {
public:
    explicit RecordingUpdater(std::vector<std::string>& calls)
        : m_calls(calls)
    {
    }
    void setAutomaticallyDownloadsUpdates(bool on) override { m_calls.push_back(on ? "downloads on" : "downloads off"); }
    void setAutomaticallyChecksForUpdates(bool on) override { m_calls.push_back(on ? "checks on" : "checks off"); }
    void checkForUpdatesInBackground() override { m_calls.push_back("check"); }

private:
    std::vector<std::string>& m_calls;
};

class SharedUpdaterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakes.platform.sharedUpdater = [this]() -> Updater& { return recorder; };
    }
    std::vector<std::string> calls;
    RecordingUpdater recorder { calls };
    FakePlatform fakes;
};

TEST_F(SharedUpdaterTest, StartSparkleUpdaterConfiguresThenChecksInThatOrder)
{
    NetworkListener listener(fakes.platform);
    listener.startSparkleUpdater();
    EXPECT_EQ(calls, (std::vector<std::string> { "downloads on", "checks on", "check" }));
}

TEST_F(SharedUpdaterTest, CheckUpdateAnswersOneAndLeavesTheCheckToTheMainThread)
{
    QueueingRunLoop mainThread;
    HelperPlatform platform { fakes.platform.mainBundle, fakes.log, fakes.user, fakes.applications, fakes.launcher, mainThread,
        fakes.sleeper, fakes.platform.operations, *fakes.sockets, *fakes.clients, *fakes.clientPaths, fakes.platform.sharedUpdater };
    NetworkListener listener(platform);
    EXPECT_EQ(listener.processCommand("checkUpdate\n"), "1");
    EXPECT_EQ(listener.processCommand("checkUpdate \"ignored\", 5\n"), "1");
    EXPECT_TRUE(calls.empty()) << "the listener thread called the updater itself";
    mainThread.drain();
    EXPECT_EQ(calls, (std::vector<std::string> { "check", "check" }));
}

} // namespace
