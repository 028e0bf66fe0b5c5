// A FUSE file system whose daemon stops answering (stopped, not killed: the
// kernel keeps waiting for it), as a NAS that fell asleep looks to the
// helper. Paths on it are answered within the bound and never hold up
// other clients.
#include "integration/helper_harness.h"
#include "support/bindfs_mount.h"
#include "support/held_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace harness;
namespace fs = std::filesystem;
using platform::testing::eventually;

std::size_t entriesIn(const fs::path& folder)
{
    std::error_code error;
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder, error), fs::directory_iterator()));
}

class SilentFileSystem : public testing::Test, protected HelperSession {
protected:
    void SetUp() override
    {
        fs::create_directories(m_served);
        fs::create_directories(m_mountPoint);
        for (auto name : { "seen.mkv", "movie, part 1.mkv", "part 2.mkv" })
            platform::testing::writeTextFile(m_served / name, "x");
        platform::testing::writeTextFile(m_home / "local.txt", "x");
        m_mount.emplace(m_served, m_mountPoint);
        if (const auto& refusal = m_mount->refusal())
            GTEST_SKIP() << *refusal;
        ASSERT_TRUE(m_mount->mounted()) << "bindfs neither mounted nor ended";
        start();
    }
    void TearDown() override
    {
        // A helper waiting on the stopped daemon ends only once it answers.
        if (m_mount)
            m_mount->wake();
        m_helper.reset();
        m_mount.reset();
    }

    // The reply and how long it took.
    std::pair<std::optional<std::string>, Clock::duration> timedAsk(Client& client, const std::string& line)
    {
        auto start = Clock::now();
        client.send(line);
        auto reply = client.readLine(10s);
        return { reply, Clock::now() - start };
    }
    std::string quoted(const fs::path& path) { return "\"" + path.string() + "\""; }
    void silence() { m_mount->silence(); }
    void wake() { m_mount->wake(); }
    fs::path helperProc() const { return "/proc/" + std::to_string(m_helper->pid()); }

    fs::path m_home { m_bundle.home() };
    fs::path m_served { m_home / "served" };
    fs::path m_mountPoint { m_home / "nas" };
    std::optional<testing_support::BindfsMount> m_mount;
};

TEST_F(SilentFileSystem, AnswersWithinTheBoundAndKeepsServing)
{
    // Whatever the helper keeps open for good is open after its first answer.
    EXPECT_EQ(timedAsk(m_client, "fileBusy " + quoted(m_mountPoint / "seen.mkv") + "\n").first, "0");
    auto threads = entriesIn(helperProc() / "task");
    auto descriptors = entriesIn(helperProc() / "fd");
    // Every scan looks at this holder's descriptor on the silent file system.
    support::FileHolderProcess holder(m_home, "player", "open", m_mountPoint / "seen.mkv");
    silence();
    // Never looked up before, so the kernel must ask the stopped daemon.
    auto [url, urlTime] = timedAsk(m_client, "getVolumeMountURL " + quoted(m_mountPoint / "movie, part 1.mkv") + "\n");
    EXPECT_EQ(url, "<nil>");
    EXPECT_GE(urlTime, 1500ms);
    EXPECT_LE(urlTime, 4s);

    // The same file system again: answered at once, without another walk.
    auto [busy, busyTime] = timedAsk(m_client, "fileBusy " + quoted(m_mountPoint / "part 2.mkv") + "\n");
    EXPECT_EQ(busy, "1") << "a file that cannot be shown free is busy";
    EXPECT_LE(busyTime, 500ms);

    {
        // Everyone else is served meanwhile, local files as ever.
        auto other = greeted();
        auto [local, localTime] = timedAsk(other, "fileBusy " + quoted(m_home / "local.txt") + "\n");
        EXPECT_EQ(local, "0");
        EXPECT_LE(localTime, 500ms);
        EXPECT_EQ(timedAsk(other, "version\n").first, "\"" + m_bundle.shortVersion() + "\"");
    }

    // Back to normal once the server answers, with nothing left behind.
    wake();
    EXPECT_TRUE(eventually([&] { return entriesIn(helperProc() / "task") == threads; }, 5000ms));
    EXPECT_EQ(timedAsk(m_client, "fileBusy " + quoted(m_mountPoint / "movie, part 1.mkv") + "\n").first, "0");
    // The walk that answered may close its descriptors just after the reply.
    EXPECT_TRUE(eventually([&] { return entriesIn(helperProc() / "fd") == descriptors; }, 5000ms))
        << entriesIn(helperProc() / "fd") << " descriptors, " << descriptors << " after the first answer";
}

// Silent servers cost only their own file systems: with four stuck at once,
// a path the kernel must look up on one that answers is still walked.
TEST_F(SilentFileSystem, StuckFileSystemsCostOnlyThemselves)
{
    std::vector<std::unique_ptr<testing_support::BindfsMount>> mounts;
    for (auto name : { "nas-2", "nas-3", "nas-4", "healthy" }) {
        fs::create_directories(m_home / name);
        mounts.push_back(std::make_unique<testing_support::BindfsMount>(m_served, m_home / name));
        ASSERT_TRUE(mounts.back()->mounted()) << name;
    }
    silence();
    for (int i = 0; i < 3; ++i)
        mounts[static_cast<std::size_t>(i)]->silence();
    for (auto name : { "nas", "nas-2", "nas-3", "nas-4" })
        EXPECT_EQ(timedAsk(m_client, "fileBusy " + quoted(m_home / name / "a.part") + "\n").first, "1") << name;
    platform::testing::writeTextFile(m_served / "free.mkv", "x");
    auto [free, freeTime] = timedAsk(m_client, "fileBusy " + quoted(m_home / "healthy/free.mkv") + "\n");
    EXPECT_EQ(free, "0");
    EXPECT_LE(freeTime, 1500ms);
    for (auto& mount : mounts)
        mount->wake();
}

// A walk that stops on a file system mounted inside another is charged to
// the one that stopped, though the cache knows the way no deeper than the
// top of the one around it: that one is still walked, the silent one not.
TEST_F(SilentFileSystem, AStuckWalkIsChargedToTheFileSystemThatStopped)
{
    const auto outerServed = m_home / "outer";
    fs::create_directories(outerServed / "deep");
    platform::testing::writeTextFile(outerServed / "free.mkv", "x");
    fs::create_directories(m_home / "healthy");
    testing_support::BindfsMount healthy(outerServed, m_home / "healthy");
    ASSERT_TRUE(healthy.mounted());
    testing_support::BindfsMount inner(m_served, m_home / "healthy/deep");
    // A user who is not root, outside a user namespace of the test's own,
    // mounts through the set-user-ID fusermount3. That runs as root, whom a
    // FUSE mount without allow_other (which such a user may not ask for
    // unless /etc/fuse.conf says user_allow_other) keeps out: it cannot
    // reach a mount point inside the outer mount.
    if (const auto& refusal = inner.refusal())
        GTEST_SKIP() << "no FUSE mount inside another here: " << *refusal;
    ASSERT_TRUE(inner.mounted()) << "bindfs neither mounted nor ended: " << inner.daemonLog();
    // Until FUSE's entry of the mount point expires (a second), the cache
    // alone would reach into the inner file system.
    std::this_thread::sleep_for(1500ms);
    inner.silence();
    EXPECT_EQ(timedAsk(m_client, "fileBusy " + quoted(m_home / "healthy/deep/seen.mkv") + "\n").first, "1");
    EXPECT_EQ(timedAsk(m_client, "fileBusy " + quoted(m_home / "healthy/free.mkv") + "\n").first, "0")
        << "the file system that answers was counted stuck";
    auto [again, againTime] = timedAsk(m_client, "fileBusy " + quoted(m_home / "healthy/deep/part 2.mkv") + "\n");
    EXPECT_EQ(again, "1");
    EXPECT_LE(againTime, 1500ms) << "the silent file system was walked again";
    inner.wake();
}

TEST_F(SilentFileSystem, AStuckWalkDoesNotHoldUpQuit)
{
    // ASan's leak check stops every thread before the process ends, which a
    // thread waiting in the kernel never does: without it the helper ends as
    // it would in use.
    m_helper.reset();
    start(std::nullopt, { { "ASAN_OPTIONS", "detect_leaks=0" } });
    silence();
    EXPECT_EQ(timedAsk(m_client, "fileBusy " + quoted(m_mountPoint / "a.part") + "\n").first, "1");
    EXPECT_EQ(timedAsk(m_client, "quit\n").first, "1");
    EXPECT_TRUE(m_helper->waitForExit(10s).has_value()) << "a walk stuck in the kernel kept the helper alive";
}

// A FUSE daemon that ended (crashed, killed) leaves a mount where every
// request fails at once. What it served cannot be shown to be free, held or
// not; the rest of the machine is answered as before.
TEST_F(SilentFileSystem, AFileSystemWhoseDaemonEndedCannotShowAFileFree)
{
    support::FileHolderProcess holder(m_home, "player", "open", m_mountPoint / "seen.mkv");
    m_mount->endDaemon();
    // Once FUSE's entries expire (a second) the cache no longer knows the way.
    std::this_thread::sleep_for(1500ms);
    struct Row {
        fs::path path;
        const char* busy;
    };
    for (const auto& row : { Row { m_mountPoint / "seen.mkv", "1" }, Row { m_mountPoint / "part 2.mkv", "1" },
             Row { m_home / "local.txt", "0" } }) {
        auto [answer, took] = timedAsk(m_client, "fileBusy " + quoted(row.path) + "\n");
        EXPECT_EQ(answer, std::string(row.busy)) << row.path;
        EXPECT_LE(took, 1500ms) << row.path;
    }
}

} // namespace
