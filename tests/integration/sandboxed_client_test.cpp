// Clients in real Flatpak sandboxes: every application with network access
// reaches the port, and only the main application, or one the bundle lists,
// is served.
#include "integration/gvfs_session.h"
#include "integration/helper_harness.h"
#include "support/bindfs_mount.h"
#include "support/eventually.h"
#include "support/flatpak_apps.h"
#include "support/held_file.h"
#include "support/stand_in_player.h"
#include "support/text_files.h"
#include "unit/platform/platform_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace harness;
using testing_support::FlatpakApps;

// Reads the welcome line and the answer to `version`, or nothing when the
// helper closes first, into the application's data folder.
constexpr const char* kAskVersion = "printf 'version\\n' | nc -w 3 127.0.0.1 9483 > \"$XDG_DATA_HOME/reply\"; exit 0";

void listServedApplications(const std::filesystem::path& infoPlist, const std::vector<std::string>& ids)
{
    auto text = platform::testing::readTextFile(infoPlist);
    std::string list = "<key>FWServedSandboxedApplications</key><array>";
    for (const auto& id : ids)
        list += "<string>" + id + "</string>";
    text.insert(text.rfind("</dict>"), list + "</array>\n");
    platform::testing::writeTextFile(infoPlist, text);
}

class SandboxedClients : public testing::Test, protected HelperSession {
protected:
    void SetUp() override
    {
        if (!m_apps.ready())
            GTEST_SKIP() << "flatpak cannot make an offline runtime here";
        if (const auto refusal = m_apps.sandboxRefusal())
            GTEST_SKIP() << "bubblewrap cannot make a sandbox here: " << *refusal;
        // Applications run in a desktop session, which has a bus.
        m_bus = startSessionBus(m_bundle.home() / "runtime", m_apps.environment());
        ASSERT_TRUE(m_bus) << "no session bus";
    }

    // What the application `id` wrote it was told: the welcome line and the
    // answer to `version` when served, nothing when the helper closed first.
    void expectReply(const std::string& id, bool served)
    {
        const auto reply = platform::testing::readTextFile(m_apps.dataFolder(id) / "reply");
        if (served)
            EXPECT_TRUE(reply.starts_with("Ferrowind Helper/") && reply.ends_with("\n" + version() + "\n")) << reply;
        else
            EXPECT_EQ(reply, "");
    }

    FlatpakApps m_apps;
    std::optional<Daemon> m_bus;
};

TEST_F(SandboxedClients, OnlyTheMainApplicationAndTheListedOnesAreServed)
{
    listServedApplications(m_bundle.infoPlistPath(), { "org.ferrowind.Beta" });
    start();
    struct Row {
        const char* id;
        bool served;
    };
    for (auto row : { Row { "com.Calderine.Ferrowind3", true }, Row { "org.ferrowind.Beta", true }, Row { "org.example.Game", false } }) {
        SCOPED_TRACE(row.id);
        ASSERT_TRUE(m_apps.install(row.id, kAskVersion));
        ASSERT_TRUE(m_apps.run(row.id));
        expectReply(row.id, row.served);
    }
    expectStillServing();
}

// Ways a sandboxed application might hide that it holds its connection: a
// helper that took "no sandbox seen" for "an ordinary process" served them.
// Only the main application is served, and only where it can be seen.
TEST_F(SandboxedClients, OnlyAClientSeenHoldingItsConnectionIsServed)
{
    start();
    // Each run does what the host wrote into the application's data folder.
    const std::string script = "exec /app/bin/sandbox_client \"$(cat \"$XDG_DATA_HOME/how\")\" 9483 \"$XDG_DATA_HOME/reply\"";
    for (const char* id : { "org.example.Other", "com.Calderine.Ferrowind3" })
        ASSERT_TRUE(m_apps.install(id, script, { SANDBOX_CLIENT_PROGRAM }));
    struct Row {
        const char* how;
        const char* id;
        bool served;
    };
    for (auto row : {
             Row { "plain", "org.example.Other", false },
             Row { "in-flight", "org.example.Other", false },
             Row { "own-table", "org.example.Other", false },
             Row { "leader-exits", "org.example.Other", false },
             Row { "plain", "com.Calderine.Ferrowind3", true },
             Row { "own-table", "com.Calderine.Ferrowind3", true },
             Row { "leader-exits", "com.Calderine.Ferrowind3", true },
         }) {
        SCOPED_TRACE(std::string(row.id) + " " + row.how);
        std::filesystem::create_directories(m_apps.dataFolder(row.id));
        platform::testing::writeTextFile(m_apps.dataFolder(row.id) / "how", row.how);
        std::filesystem::remove(m_apps.dataFolder(row.id) / "reply");
        ASSERT_TRUE(m_apps.run(row.id));
        expectReply(row.id, row.served);
    }
    expectStillServing();
}

// The session bus holds a call to a name it is still starting, descriptors
// and all, until the name is claimed: a sandbox can park its connection
// there while the helper looks, and take it back once served. The bus is no
// client; a sandbox beside it that no one may look into vetoes. The helper
// is held still until the bus holds the socket, as a flood of connections
// would hold it.
TEST_F(SandboxedClients, AConnectionParkedWithTheBusIsNotServed)
{
    const char* id = "org.example.Other";
    std::filesystem::create_directories(m_apps.sessionServices());
    platform::testing::writeTextFile(m_apps.sessionServices() / (std::string(id) + ".service"),
        "[D-BUS Service]\nName=" + std::string(id) + "\nExec=/bin/sleep 60\n");
    m_bus.reset();
    m_bus = startSessionBus(m_bundle.home() / "runtime", m_apps.environment());
    ASSERT_TRUE(m_bus);
    start();
    ASSERT_TRUE(m_apps.install(id, "exec /app/bin/sandbox_client \"$(cat \"$XDG_DATA_HOME/how\")\" 9483 \"$XDG_DATA_HOME/reply\"", { SANDBOX_CLIENT_PROGRAM }));
    const auto data = m_apps.dataFolder(id);
    for (const char* how : { "bus-relay", "bus-relay-undumpable" }) {
        SCOPED_TRACE(how);
        std::filesystem::create_directories(data);
        platform::testing::writeTextFile(data / "how", how);
        std::filesystem::remove(data / "reply");
        std::filesystem::remove(data / "reply.relayed");
        kill(m_helper->pid(), SIGSTOP);
        auto app = m_apps.start(id);
        const bool relayed = testing_support::eventually([&] { return std::filesystem::exists(data / "reply.relayed"); }, 20s);
        kill(m_helper->pid(), SIGCONT);
        ASSERT_TRUE(relayed);
        ASSERT_TRUE(app.reapWithin(20s));
        ASSERT_TRUE(std::filesystem::exists(data / "reply")) << "the sandbox did not get its connection back from the bus";
        expectReply(id, false);
    }
    expectStillServing();
}

// A sandbox decides how much a look into it costs: many processes, many
// descriptors, connection after connection. Clients already served are
// answered all the while.
TEST_F(SandboxedClients, ServedClientsAreAnsweredWhileAFloodIsLookedInto)
{
    const char* id = "org.example.Other";
    start();
    ASSERT_TRUE(m_apps.install(id, "exec /app/bin/sandbox_client flood 9483 \"$XDG_DATA_HOME/reply\"", { SANDBOX_CLIENT_PROGRAM }));
    auto app = m_apps.start(id);
    auto longest = 0ms;
    for (int asked = 0; !app.reapWithin(50ms); ++asked) {
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_EQ(m_client.ask("version\n", 20s), version()) << "after " << asked;
        longest = std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent));
    }
    EXPECT_EQ(platform::testing::readTextFile(m_apps.dataFolder(id) / "reply"), "flooded\n");
    // Far below the seconds a served client waited when lookups ran on the
    // serving thread.
    EXPECT_LT(longest, 1s);
    expectStillServing();
}

// A scope's name is evidence only because a sandbox cannot make a group
// of its own or move into one: tried here wherever a hierarchy may be.
TEST_F(SandboxedClients, CannotNameItsOwnControlGroup)
{
    const char* id = "org.example.Other";
    const std::string script = "for hierarchy in /sys/fs/cgroup /sys/fs/cgroup/unified /sys/fs/cgroup/systemd; do\n"
                               "  mkdir \"$hierarchy/app-flatpak-com.Calderine.Ferrowind3-1.scope\" 2>/dev/null && echo \"made in $hierarchy\"\n"
                               "  echo $$ 2>/dev/null > \"$hierarchy/cgroup.procs\" && echo \"moved in $hierarchy\"\n"
                               "done > \"$XDG_DATA_HOME/reply\"; echo tried >> \"$XDG_DATA_HOME/reply\"";
    ASSERT_TRUE(m_apps.install(id, script));
    ASSERT_TRUE(m_apps.run(id));
    EXPECT_EQ(platform::testing::readTextFile(m_apps.dataFolder(id) / "reply"), "tried\n");
}

// The client names files as its sandbox shows them: a file the document
// portal lends it, and one in its private /tmp that it holds itself.
TEST_F(SandboxedClients, PathsAreAnsweredAsTheSandboxSeesThem)
{
    const char* id = "com.Calderine.Ferrowind3";
    if (!std::filesystem::exists("/usr/libexec/xdg-document-portal") || !std::filesystem::exists("/dev/fuse"))
        GTEST_SKIP() << "no document portal here";
    platform::testing::TemporaryDirectory scratch;
    const auto movie = scratch / "movie.mkv";
    platform::testing::writeTextFile(movie, "partial");
    support::FileHolderProcess player(scratch.path(), "player", "map", movie);
    const auto lent = m_apps.exportDocument(id, movie);
    ASSERT_TRUE(lent) << "the document portal did not lend the file";
    start();
    // What the host calls the lent file: the portal's own folder.
    EXPECT_EQ(ask("fileBusy \"" + *lent + "\"\n"), "1");

    // One line at a time: the helper reads all that has arrived as one line.
    const auto inSandbox = "/run/flatpak/doc/" + std::filesystem::path(*lent).parent_path().filename().string() + "/movie.mkv";
    const std::string script = "exec 3>/tmp/held; : >/tmp/free\n"
                               "for line in 'fileBusy \""
        + inSandbox + "\"' 'fileBusy \"/tmp/held\"' 'fileBusy \"/tmp/free\"'; do\n"
                      "  printf '%s\\n' \"$line\"; sleep 1\n"
                      "done | nc -w 3 127.0.0.1 9483 > \"$XDG_DATA_HOME/reply\"";
    ASSERT_TRUE(m_apps.install(id, script));
    ASSERT_TRUE(m_apps.run(id));
    const auto reply = platform::testing::readTextFile(m_apps.dataFolder(id) / "reply");
    EXPECT_TRUE(reply.ends_with("\n1\n1\n0\n")) << reply;
}

// A player we start for a sandbox opens the file the sandbox means: one of
// its own, or nothing. A path into the sandbox for the player to walk would
// follow the sandbox's links on the host.
TEST_F(SandboxedClients, APlayerIsGivenOnlyWhatTheSandboxCanReach)
{
    testing_support::StandInPlayer player;
    if (player.refusal())
        GTEST_SKIP() << *player.refusal();
    player.install();
    // The document portal the bus starts must mount where flatpak, in the
    // player's mount namespace now, looks for it.
    m_bus.reset();
    m_bus = startSessionBus(m_bundle.home() / "runtime", m_apps.environment());
    platform::testing::TemporaryDirectory host;
    const auto secret = host / "private.mkv";
    platform::testing::writeTextFile(secret, "host secret");
    const char* id = "com.Calderine.Ferrowind3";
    const std::string script = "printf 'sandbox movie' > /tmp/movie; ln -s '" + secret
        + "' /tmp/link\n"
          "for file in /tmp/movie /tmp/link; do printf 'launchVLCPreview \"%s\"\\n' \"$file\"; sleep 1; done"
          " | nc -w 3 127.0.0.1 9483 > \"$XDG_DATA_HOME/reply\"";
    ASSERT_TRUE(m_apps.install(id, script));
    start();
    ASSERT_TRUE(m_apps.run(id));
    EXPECT_TRUE(platform::testing::readTextFile(m_apps.dataFolder(id) / "reply").ends_with("\n1\n0\n"));
    ASSERT_EQ(player.awaitLaunch(1), (std::vector<std::string> { "--avi-index=2", "/proc/self/fd/3" }));
    EXPECT_EQ(player.openedBy(player.players().front()), "sandbox movie");
}

// VLC from Flathub, for the user: found where flatpak exports it, and given
// the file through the document portal, since its sandbox cannot see it.
TEST_F(SandboxedClients, AFlatpakPlayerIsFoundAndGivenTheFile)
{
    const char* id = "org.videolan.VLC";
    platform::testing::TemporaryDirectory scratch;
    const auto movie = scratch / "movie.mkv";
    platform::testing::writeTextFile(movie, "partial");
    ASSERT_TRUE(m_apps.install(id, "echo \"$@\" > \"$XDG_DATA_HOME/arguments\""));
    start(std::nullopt, m_apps.environment());
    EXPECT_EQ(ask("detectVLCAvailable\n"), "1");
    EXPECT_EQ(m_client.ask("launchVLCPreview \"" + movie + "\"\n", 20s), "1");
    // The portal's path of the file: its folder under the runtime folder of
    // the session, which is the test's own here.
    const auto arguments = m_apps.dataFolder(id) / "arguments";
    EXPECT_TRUE(testing_support::eventually([&] { return std::filesystem::exists(arguments); }, 20s));
    EXPECT_THAT(platform::testing::readTextFile(arguments), testing::MatchesRegex("--avi-index=2 .*/doc/[^/]+/movie\\.mkv\n")) << "not forwarded";
}

// A process of the user in a mount namespace and root of its own, which can
// put anything where a sandbox keeps the file that says what it is.
class ContainedClient {
public:
    explicit ContainedClient(const std::filesystem::path& root)
    {
        if (pipe2(m_ready, O_CLOEXEC) != 0 || pipe2(m_go, O_CLOEXEC) != 0 || pipe2(m_report, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipe");
        const pid_t pid = fork();
        if (pid == 0)
            _exit(enterAndConnect(root));
        m_process.emplace(pid);
    }
    ~ContainedClient()
    {
        for (int descriptor : { m_ready[0], m_ready[1], m_go[0], m_go[1], m_report[0], m_report[1] })
            close(descriptor);
    }

    // True once the process is in its root.
    bool inRoot() { return readFrom(m_ready[0], 5s) == "r"; }
    // Connects; what the helper sent before closing or within 3 s.
    std::string connect()
    {
        [[maybe_unused]] auto written = write(m_go[1], "g", 1);
        const auto report = readFrom(m_report[0], 20s);
        return report.starts_with("=") ? report.substr(1) : report;
    }

private:
    int enterAndConnect(const std::filesystem::path& root)
    {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return 1;
        if (std::filesystem::exists(root / "dev/zero") && mount("/dev/zero", (root / "dev/zero").c_str(), nullptr, MS_BIND, nullptr) != 0)
            return 1;
        if (chroot(root.c_str()) != 0 || chdir("/") != 0)
            return 1;
        [[maybe_unused]] auto written = write(m_ready[1], "r", 1);
        char go = 0;
        if (read(m_go[0], &go, 1) != 1)
            return 1;
        auto client = Client::connectTo(kPort, 3s);
        const auto welcome = client ? client->readLine(3s) : std::nullopt;
        // Never empty: a pipe's reader is not woken by nothing.
        const auto report = "=" + welcome.value_or("");
        written = write(m_report[1], report.data(), report.size());
        return 0;
    }

    static std::string readFrom(int descriptor, Clock::duration limit)
    {
        pollfd entry { descriptor, POLLIN, 0 };
        if (poll(&entry, 1, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(limit).count())) <= 0)
            return "<nothing in time>";
        char text[512];
        const auto length = read(descriptor, text, sizeof text);
        return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : "";
    }

    int m_ready[2] { -1, -1 };
    int m_go[2] { -1, -1 };
    int m_report[2] { -1, -1 };
    std::optional<testing_support::ChildProcess> m_process;
};

class ContainedClients : public testing::Test, protected HelperSession {
protected:
    void SetUp() override
    {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            GTEST_SKIP() << "needs mount namespaces";
        start();
    }

    platform::testing::TemporaryDirectory m_roots;
};

// Only a container that says what it is (podman's, toolbox's) is the user
// at work; whatever stands where Flatpak keeps its file is read as what it
// must be, and holds the helper up no longer than any path's walk.
TEST_F(ContainedClients, AreServedOnlyWhenTheySayWhatTheyAre)
{
    using platform::testing::writeTextFile;
    using std::filesystem::path;
    struct Row {
        const char* name;
        void (*lay)(const path& root);
        bool served;
    };
    for (auto row : {
             Row { "podman", [](const path& root) { writeTextFile(root / "run/.containerenv", "engine=\"podman\"\n"); }, true },
             Row { "nothing", [](const path&) { /* an empty root */ }, false },
             Row { "fifo", [](const path& root) { mkfifo((root / ".flatpak-info").c_str(), 0600); }, false },
             Row { "endless",
                 [](const path& root) {
                     writeTextFile(root / "dev/zero", ""); // where /dev/zero is bound
                     std::filesystem::create_symlink("/dev/zero", root / ".flatpak-info");
                 },
                 false },
         }) {
        SCOPED_TRACE(row.name);
        const auto root = m_roots.path() / row.name;
        std::filesystem::create_directories(root / "run");
        std::filesystem::create_directories(root / "dev");
        row.lay(root);
        ContainedClient client(root);
        ASSERT_TRUE(client.inRoot());
        const auto welcome = client.connect();
        EXPECT_EQ(welcome.starts_with("Ferrowind Helper/"), row.served) << welcome;
        EXPECT_EQ(ask("version\n"), version());
    }
}

// A root on a file system that never answers costs one bounded walk.
TEST_F(ContainedClients, ASilentFileSystemAtTheirRootHoldsNoOneUp)
{
    const auto served = m_roots.path() / "served";
    const auto root = m_roots.path() / "root";
    std::filesystem::create_directories(served);
    std::filesystem::create_directories(root);
    platform::testing::writeTextFile(served / ".flatpak-info", "[Application]\nname=com.Calderine.Ferrowind3\n");
    testing_support::BindfsMount fuse(served, root);
    if (fuse.refusal())
        GTEST_SKIP() << *fuse.refusal();
    ContainedClient client(root);
    ASSERT_TRUE(client.inRoot());
    fuse.silence();
    EXPECT_EQ(client.connect(), "");
    EXPECT_EQ(ask("version\n"), version());
    fuse.wake();
}

} // namespace
