// Weeks of a desktop's use of the helper in minutes: friendly and hostile
// clients at once, while a FUSE mount goes silent and comes back, a file is
// held and let go, the feed server answers, fails, redirects and trickles,
// the helper restarts and its log daemon falls behind. Prints what was
// answered, what was wrong, what the helper held over time and whether its
// log is whole; exits 0 only when nothing was wrong.
//
// Run through scripts/soak.sh [MINUTES]: it needs namespaces of its own
// (tests/integration/isolated.sh), whose init it becomes.
#include "integration/dbus_mock_harness.h"
#include "integration/update_fixture.h"
#include "soak/helper_watch.h"
#include "soak/journal_daemon.h"
#include "soak/soak_clients.h"
#include "soak/soak_report.h"
#include "soak/stand_in_state.h"
#include "support/bindfs_mount.h"
#include "support/held_file.h"
#include "support/passive_sshfs.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace soak {

namespace {

namespace fs = std::filesystem;

constexpr const char* kJournalFolder = "/run/systemd/journal";
// Where VLC is found on this machine; the helper's home holds no Flatpak.
constexpr std::array kPlayers { "/usr/bin/vlc", "/var/lib/flatpak/exports/bin/org.videolan.VLC", "/snap/bin/vlc" };
constexpr auto kBetweenHoldings = 4s;
constexpr auto kBetweenSilences = 12s;
constexpr auto kSilence = 4s;
constexpr auto kBetweenFeedChanges = 15s;
constexpr auto kSamplingInterval = 500ms;
constexpr auto kResumeGrace = 1s;
constexpr auto kSettling = 5s;
// The trickled feed's body takes this long to arrive.
constexpr auto kMostSettling = 40s;
// AddressSanitizer keeps freed memory aside, 256 MiB of it unless told
// otherwise, and never gives free pages back: both would hide in their growth
// what the helper itself keeps. A quarantine this small is full within the
// first minute, where growth is measured from, and still catches a use
// soon after a free.
constexpr const char* kSanitizerOptions = "quarantine_size_mb=2:thread_local_quarantine_size_kb=256:allocator_release_to_os_interval_ms=1000";
constexpr int kKeepingClients = 2;
constexpr int kReconnectingClients = 2;

// The log daemon of a systemd desktop, on a /run of the soak's own.
void makeJournalFolder()
{
    if (mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0)
        throw std::runtime_error("cannot mount a tmpfs on /run: run the soak through scripts/soak.sh");
    fs::create_directories(kJournalFolder);
}

// Sleeps `interval` at a time until the soak ends, doing `step` after each.
void every(const std::atomic<bool>& stop, Clock::duration interval, const std::function<void()>& step)
{
    for (auto next = Clock::now() + interval; !stop; next += interval) {
        while (!stop && Clock::now() < next)
            std::this_thread::sleep_for(std::min<Clock::duration>(100ms, next - Clock::now()));
        if (!stop)
            step();
    }
}

// The feed as a vendor's server may have it at any moment. The item it
// offers never installs: its archive is not there.
class FeedStates {
public:
    FeedStates(const fs::path& folder, const harness::FeedServer& server)
        : m_folder(folder)
        , m_server(server)
    {
        harness::writeAppcast(m_folder / "whole.xml", { { "99.0", server.url("missing.tar.gz"), "1234", "c2lnbmF0dXJl" } });
        answer();
    }

    void answerAtOnce() { answer(); }

    void next()
    {
        const std::array<void (FeedStates::*)(), 4> states { &FeedStates::answer, &FeedStates::fail, &FeedStates::redirect,
            &FeedStates::trickle };
        (this->*states[++m_state % states.size()])();
    }

private:
    void clear()
    {
        for (auto name : { "appcast.xml", "appcast.xml.redirect", "appcast.xml.drip" })
            fs::remove(m_folder / name);
    }
    void answer()
    {
        clear();
        fs::copy_file(m_folder / "whole.xml", m_folder / "appcast.xml");
    }
    void fail() { clear(); }
    void redirect()
    {
        clear();
        std::ofstream(m_folder / "appcast.xml.redirect") << m_server.url("whole.xml");
    }
    void trickle()
    {
        clear();
        std::ofstream(m_folder / "appcast.xml.drip") << "<?xml version=\"1.0\"?><rss";
    }

    fs::path m_folder;
    const harness::FeedServer& m_server;
    std::size_t m_state { 0 };
};

struct Options {
    Clock::duration length;
    Clock::duration betweenRestarts;
    // Restarts stop here, so that the last helper serves a good while.
    Clock::duration lastRestart;
};

Options optionsFor(double minutes)
{
    const auto length = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::ratio<60>>(minutes));
    const auto betweenRestarts = std::clamp<Clock::duration>(length / 6, 30s, 5min);
    return { length, betweenRestarts, length * 4 / 5 };
}

class Soak {
public:
    explicit Soak(Options options)
        : m_options(options)
    {
    }

    int run()
    {
        setUp();
        const auto started = Clock::now();
        std::printf("soaking for %lld s; restarts every %lld s\n", static_cast<long long>(m_options.length / 1s),
            static_cast<long long>(m_options.betweenRestarts / 1s));
        if (m_storm.refusal())
            tell("without another user's storm: " + *m_storm.refusal());
        startActors(started);
        while (!m_stop && Clock::now() - started < m_options.length)
            std::this_thread::sleep_for(200ms);
        return finish();
    }

private:
    void setUp()
    {
        makeJournalFolder();
        m_journal.emplace(fs::path(kJournalFolder) / "socket");
        prepareFiles();
        m_logind.emplace(m_systemBus, harness::DBusMock::Bus::System, "org.freedesktop.login1",
            std::vector<std::string> { "--template", "logind" });
        fs::create_directories(m_scratch.path() / "feed");
        m_feedServer.emplace(m_scratch.path() / "feed");
        m_feed.emplace(m_scratch.path() / "feed", *m_feedServer);
        harness::SigningKey key(m_scratch.path() / "private.key");
        harness::setInfoString(m_bundle.infoPlistPath(), "SUFeedURL", m_feedServer->url("appcast.xml"));
        harness::setInfoString(m_bundle.infoPlistPath(), "SUPublicEDKey", key.publicKey());
        m_truth.version = m_bundle.shortVersion();
        m_truth.playerInstalled = std::ranges::any_of(kPlayers, [](const char* player) { return access(player, X_OK) == 0; });
        std::ofstream(m_scratch.path() / "helper.stderr").flush();
        m_helper.emplace(m_bundle, std::nullopt,
            testing_support::Environment { { "DBUS_SYSTEM_BUS_ADDRESS", m_systemBus.address() },
                { "DBUS_SESSION_BUS_ADDRESS", m_sessionBus.address() }, { "ASAN_OPTIONS", kSanitizerOptions } },
            (m_scratch.path() / "helper.stderr").string());
        if (!harness::greetedClient(harness::kPort, 30s, 30s))
            throw std::runtime_error("the helper did not greet; it logged:\n" + loggedSoFar());
        m_watch.serving(m_helper->pid());
        warmUp();
    }

    std::string loggedSoFar() const
    {
        std::string text;
        for (auto const& line : m_journal->lines())
            text += line.message + "\n";
        return text + testing_support::readTextFile(m_scratch.path() / "helper.stderr");
    }

    void prepareFiles()
    {
        const auto& root = m_scratch.path();
        for (auto folder : { "local", "served", "fuse", "srv/www", "site" })
            fs::create_directories(root / folder);
        std::ofstream(root / "local/free.part") << "partial";
        std::ofstream(root / "local/held.part") << std::string(1 << 16, 'x');
        std::ofstream(root / "served/on-fuse.part") << "partial";
        std::ofstream(root / "served/playing.avi") << "movie";
        std::ofstream(root / "srv/www/remote.part") << "partial";
        mountFuse();
        m_sshfs.emplace(root, "-o reconnect,port=2222 alice@example.test:" + (root / "srv/www").string() + " site", root / "site");
        if (!m_sshfs->mounted())
            throw std::runtime_error("sshfs did not mount");
        m_truth.networkVolumeURL = "\"sftp://alice@example.test:2222" + (root / "srv/www").string() + "\"";
    }

    void mountFuse()
    {
        const auto& root = m_scratch.path();
        m_fuse.emplace(root / "served", root / "fuse");
        if (m_fuse->refusal() || !m_fuse->mounted())
            throw std::runtime_error(m_fuse->refusal().value_or("bindfs did not mount"));
        // A player keeps a file on the mount open for as long as it is there.
        m_fusePlayer.emplace(root, "player", "open", (root / "fuse/playing.avi").string());
    }

    Scene scene()
    {
        const auto& root = m_scratch.path();
        return { m_world, m_truth, m_tally, m_stop, root / "local/free.part", root / "local/held.part",
            root / "fuse/on-fuse.part", root / "fuse/playing.avi", root / "local", root / "site/remote.part",
            [this] { return standIns(); }, [this] { return fuseDaemonEnded(); } };
    }

    std::string standIns() const
    {
        const auto held = descriptorNamed(m_fusePlayer->pid(), "playing.avi");
        const auto ended = m_watch.endOfOther(m_fuse->daemonPid());
        return "bindfs " + processState(m_fuse->daemonPid()) + (ended.empty() ? "" : ", " + ended) + ", FUSE player "
            + processState(m_fusePlayer->pid()) + ", held FUSE file inode " + cachedInode(m_scratch.path() / "fuse/playing.avi")
            + " by its path, " + (held.empty() ? "none" : heldInode(held)) + " by the player's descriptor";
    }

    bool fuseDaemonEnded() const { return !isRunning(m_fuse->daemonPid()); }

    // The truth the clients are checked against holds only while the FUSE
    // mount's daemon and its player run. bindfs has been seen to end on its
    // own in long runs; its mount is then made again, with its player, and
    // answers on the mount until then are counted apart. Called with the
    // world lock held for writing.
    void checkFuseStandIns()
    {
        if (fuseDaemonEnded()) {
            tell("bindfs ended (" + standIns() + "), and logged: " + m_fuse->daemonLog() + "; it is mounted again");
            ++m_events["FUSE daemon ended and mounted again"];
            m_fusePlayer.reset();
            m_fuse.reset();
            mountFuse();
        }
        if (!isRunning(m_fusePlayer->pid()))
            throw std::runtime_error("the FUSE mount's player ended (" + standIns() + ")");
    }

    // Every sort of command once, so that what the helper opens on first use
    // is open before the start is measured.
    void warmUp()
    {
        auto warm = scene();
        askEveryKindOnce(warm);
        std::this_thread::sleep_for(2s);
        m_watch.look();
        m_atStart = m_watch.instances().front().last;
        m_descriptorsAtStart = m_watch.descriptorsOfServing();
    }

    void startActors(Clock::time_point started)
    {
        m_scene = std::make_unique<Scene>(scene());
        for (int id = 0; id < kKeepingClients + kReconnectingClients; ++id)
            startActor([this, id] { runFriendlyClient(*m_scene, id, id < kKeepingClients); });
        startActor([this] { runSleepClient(*m_scene, m_systemBus); });
        startActor([this] { runHostileClient(*m_scene); });
        m_storm.start();
        startActor([this] { every(m_stop, kSamplingInterval, [this] { m_watch.look(); }); });
        startActor([this] { every(m_stop, kBetweenHoldings, [this] { changeHolding(); }); });
        startActor([this] { every(m_stop, kBetweenSilences, [this] { silenceMount(); }); });
        startActor([this] { every(m_stop, kBetweenFeedChanges, [this] { changeFeed(); }); });
        startActor([this, started] {
            every(m_stop, m_options.betweenRestarts, [this, started] {
                if (Clock::now() - started <= m_options.lastRestart)
                    restart();
            });
        });
    }

    // An actor that fails (a stand-in that did not start, a mock that did
    // not answer) ends the soak, which then fails: its figures would say
    // less than they seem to.
    template<typename Work>
    void startActor(Work work)
    {
        m_actors.emplace_back([this, work] {
            try {
                work();
            } catch (const std::exception& error) {
                m_tally.note("soak faults");
                tell(std::string("the soak itself failed: ") + error.what());
                m_stop = true;
            }
        });
    }

    void changeHolding()
    {
        const std::lock_guard lock(m_world);
        if (m_holder) {
            m_holder.reset();
            m_truth.heldFile = Holding::none;
            return;
        }
        const bool maps = ++m_events["file held and let go"] % 2 == 0;
        m_holder.emplace(m_scratch.path(), "player", maps ? "map" : "open", (m_scratch.path() / "local/held.part").string());
        m_truth.heldFile = maps ? Holding::mapped : Holding::open;
    }

    void silenceMount()
    {
        {
            const std::lock_guard lock(m_world);
            checkFuseStandIns();
            m_fuse->silence();
            m_truth.mountSilent = true;
            tell("the FUSE mount goes silent");
            ++m_events["FUSE mount silenced and resumed"];
        }
        for (auto until = Clock::now() + kSilence; !m_stop && Clock::now() < until;)
            std::this_thread::sleep_for(100ms);
        const std::lock_guard lock(m_world);
        m_fuse->wake();
        checkFuseStandIns();
        m_truth.mountSilent = false;
        m_truth.mountWoke = Clock::now();
        tell("the FUSE mount answers again");
    }

    void changeFeed()
    {
        m_feed->next();
        ++m_events["feed changes (answers, fails, redirects, trickles)"];
    }

    // A sanitizer build cannot end while one of its threads waits on a silent
    // mount: LeakSanitizer's check at exit waits for every thread to stop,
    // and one waiting on FUSE cannot until the mount answers. A user's helper
    // has no such check; restarts come while the mount answers.
    void restart()
    {
        while (!m_stop) {
            {
                const std::lock_guard lock(m_world);
                if (!m_truth.mountSilent && Clock::now() - m_truth.mountWoke > kResumeGrace) {
                    tell("restart");
                    m_watch.restart();
                    ++m_truth.restarts;
                    ++m_events["restarts"];
                    return;
                }
            }
            std::this_thread::sleep_for(100ms);
        }
    }

    int finish()
    {
        m_stop = true;
        for (auto& actor : m_actors)
            actor.join();
        m_storm.stop();
        settle();
        SoakResults results;
        results.atStart = m_atStart;
        results.atEnd = m_watch.instances().back().last;
        results.descriptorsAtStart = m_descriptorsAtStart;
        results.descriptorsAtEnd = m_watch.descriptorsOfServing();
        m_watch.quit();
        m_journal->waitForQuiet(2s);
        results.figures = m_tally.figures();
        results.instances = m_watch.instances();
        results.logLines = m_journal->lines();
        results.events = m_events;
        results.events["another user's connections refused"] = m_storm.connections();
        results.events["log daemon pauses"] = m_journal->pauses();
        results.events["update checks reaching the feed server"] = feedRequests();
        printSanitizerReports();
        return report(results) ? 0 : 1;
    }

    // Once the load has ended, what the helper still holds for it goes: an
    // update check reading a trickled feed, for one, lasts until the feed's
    // last byte.
    void settle()
    {
        m_feed->answerAtOnce();
        std::this_thread::sleep_for(kSettling);
        for (auto until = Clock::now() + kMostSettling; Clock::now() < until; std::this_thread::sleep_for(kSamplingInterval)) {
            m_watch.look();
            const auto now = m_watch.instances().back().last;
            if (now.descriptors <= m_atStart.descriptors && now.threads <= m_atStart.threads)
                return;
        }
    }

    long feedRequests() const
    {
        const auto log = testing_support::readTextFile(m_scratch.path() / "server.log");
        long count = 0;
        for (std::size_t at = 0; (at = log.find("GET /appcast.xml", at)) != std::string::npos; ++at)
            ++count;
        return count;
    }

    // A sanitizer's report ends the helper; it is shown whole.
    void printSanitizerReports()
    {
        const auto errors = testing_support::readTextFile(m_scratch.path() / "helper.stderr");
        if (errors.find("Sanitizer") == std::string::npos && errors.find("runtime error") == std::string::npos)
            return;
        m_tally.crashed("a sanitizer reported in the helper's standard error");
        std::printf("== the helper's standard error\n%s\n", errors.c_str());
    }

    Options m_options;
    // Forked before any thread starts.
    OtherUserStorm m_storm;
    WorldLock m_world;
    Truth m_truth;
    Tally m_tally;
    std::atomic<bool> m_stop { false };
    testing_support::TemporaryDirectory m_scratch { "ferrowind-soak" };
    std::optional<JournalDaemon> m_journal;
    std::optional<testing_support::BindfsMount> m_fuse;
    std::optional<support::FileHolderProcess> m_fusePlayer;
    std::optional<testing_support::PassiveSshfs> m_sshfs;
    harness::PrivateBus m_systemBus;
    harness::PrivateBus m_sessionBus;
    std::optional<harness::DBusMock> m_logind;
    std::optional<harness::FeedServer> m_feedServer;
    std::optional<FeedStates> m_feed;
    harness::HelperBundleCopy m_bundle;
    std::optional<harness::HelperProcess> m_helper;
    HelperWatch m_watch { m_bundle, m_tally };
    std::optional<support::FileHolderProcess> m_holder;
    std::map<std::string, long> m_events;
    Sample m_atStart;
    std::string m_descriptorsAtStart;
    std::unique_ptr<Scene> m_scene;
    std::vector<std::thread> m_actors;
};

} // namespace

} // namespace soak

int main(int argc, char** argv)
{
    if (getpid() != 1) {
        std::fprintf(stderr, "run the soak through scripts/soak.sh: it needs namespaces of its own\n");
        return 2;
    }
    const double minutes = argc > 1 ? std::atof(argv[1]) : 3;
    setvbuf(stdout, nullptr, _IOLBF, 0);
    try {
        soak::Soak soak(soak::optionsFor(minutes));
        return soak.run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "soak: %s\n", error.what());
        return 2;
    }
}
