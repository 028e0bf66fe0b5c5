// Volume rows against the real helper, and volume URLs of real mounts made in
// this test's own mount namespace.
#include "integration/helper_harness.h"
#include "platform/linux_platform.h"
#include "support/passive_sshfs.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace harness;
using testing_support::kSftpServer;
using testing_support::PassiveSshfs;
namespace fs = std::filesystem;

class VolumeRowsOverTheWire : public testing::Test, protected HelperSession {
protected:
    void SetUp() override { start(); }
};

TEST_F(VolumeRowsOverTheWire, LocalAndMissingPathsAnswerNil)
{
    auto folder = m_bundle.home().string();
    std::ofstream(folder + "/file.txt") << "x";
    EXPECT_EQ(ask("getVolumeMountURL \"" + folder + "\"\n"), "<nil>");
    EXPECT_EQ(ask("getVolumeMountURL \"" + folder + "/file.txt\"\n"), "<nil>");
    EXPECT_EQ(ask("getVolumeMountURL \"" + folder + "/missing\"\n"), "<nil>");
    EXPECT_EQ(ask("getVolumeMountURL \"\"\n"), "<nil>");
    EXPECT_EQ(ask("getVolumeMountURL 3\n"), "<nil>");
    // Still serving.
    EXPECT_EQ(ask("version\n"), "\"" + m_bundle.shortVersion() + "\"");
}

TEST_F(VolumeRowsOverTheWire, UnmountableURLsAnswerNilWithinTheBound)
{
    // Nothing listens in this test's network namespace, and no GVfs may be
    // there at all: either way the mount fails and the helper goes on.
    for (auto url : { "smb://127.0.0.1/share", "file:///tmp", "not a url", "" })
        EXPECT_EQ(ask("mountVolumeWithMountURL \"" + std::string(url) + "\"\n", 40s), "<nil>") << url;
    EXPECT_EQ(ask("mountVolumeWithMountURL\n"), "<nil>");
    EXPECT_EQ(ask("version\n"), "\"" + m_bundle.shortVersion() + "\"");
}

// Mounts need privileges; without them there is nothing real to look at.
class RealLocalMounts : public testing::Test {
protected:
    void SetUp() override
    {
        // A mount namespace of our own, so the mounts below never show
        // outside this process, however the test was started.
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || !mountTmpfs(m_root, "ferrowind-test"))
            GTEST_SKIP() << "cannot mount here";
    }
    void TearDown() override { umount2(m_root.c_str(), MNT_DETACH); }

    static bool mountTmpfs(const fs::path& at, const char* source)
    {
        fs::create_directories(at);
        return mount(source, at.c_str(), "tmpfs", 0, "size=1m") == 0;
    }

    std::optional<std::string> urlOf(const fs::path& path) const { return m_volumes->urlOfVolumeHolding(path.string()); }

    testing_support::TemporaryDirectory m_scratch { "ferrowind-mounts" };
    fs::path m_root { m_scratch.path() };
    std::unique_ptr<platform::VolumeURLs> m_volumes = platform::makeVolumeURLs();
};

TEST_F(RealLocalMounts, PathsFindTheMountThatHoldsThem)
{
    auto outer = m_root / "my disk";
    auto inner = outer / "inner ü";
    ASSERT_TRUE(mountTmpfs(outer, "outer"));
    ASSERT_TRUE(mountTmpfs(inner, "inner"));
    fs::create_directories(outer / "sub/deeper");
    fs::create_directories(m_root / "bound");
    ASSERT_EQ(mount((outer / "sub").c_str(), (m_root / "bound").c_str(), nullptr, MS_BIND, nullptr), 0);
    fs::create_symlink(inner, m_root / "link");

    auto outerURL = "file://" + m_root.string() + "/my%20disk";
    EXPECT_EQ(urlOf(outer), outerURL);
    EXPECT_EQ(urlOf(outer / "sub/deeper"), outerURL);
    EXPECT_EQ(urlOf(inner), outerURL + "/inner%20%C3%BC");
    EXPECT_EQ(urlOf(m_root / "link"), outerURL + "/inner%20%C3%BC");
    // The same file system seen through a bind mount belongs to that mount.
    EXPECT_EQ(urlOf(m_root / "bound/deeper"), "file://" + m_root.string() + "/bound");
    EXPECT_EQ(urlOf(m_root / "missing"), std::nullopt);
    EXPECT_EQ(urlOf(""), std::nullopt);
}

// A local tmpfs on a folder whose name spells out the rest of an sshfs
// mount's line: read on any whitespace, the table would make it name a
// server nobody mounted.
TEST_F(RealLocalMounts, AFolderNamedLikeAMountLineStaysLocalOverTheWire)
{
    auto spoof = m_root / "cm/sp\vY\v-\vfuse.sshfs\vuser@evil.example:/data\vrw";
    ASSERT_TRUE(mountTmpfs(spoof, "tmpfs"));
    std::ofstream(spoof / "file") << "x";
    HelperSession session;
    ASSERT_NO_FATAL_FAILURE(session.start());
    EXPECT_EQ(session.ask("getVolumeMountURL \"" + (spoof / "file").string() + "\"\n"), "<nil>");
    EXPECT_EQ(session.ask("getVolumeMountURL \"" + spoof.string() + "\"\n"), "<nil>");
}

// The table keeps no port for sshfs; the helper reads it from the sshfs
// process. A folder relative to the home on the server has no URL at all.
TEST_F(RealLocalMounts, SshfsMountsAnswerTheirPortOverTheWire)
{
    if (!fs::exists(kSftpServer) || system("command -v sshfs >/dev/null") != 0)
        GTEST_SKIP() << "needs sshfs and " << kSftpServer;
    fs::create_directories(m_root / "srv/www");
    fs::create_directories(m_root / "site");
    fs::create_directories(m_root / "home");
    std::ofstream(m_root / "srv/www/index.html") << "x";
    auto source = "alice@example.test:" + (m_root / "srv/www").string();
    PassiveSshfs ported(m_root, "-o reconnect,port=2222 " + source + " site", m_root / "site");
    PassiveSshfs homeRelative(m_root, "-p 2200 alice@example.test: " + (m_root / "home").string(), m_root / "home");
    ASSERT_TRUE(ported.mounted() && homeRelative.mounted());
    HelperSession session;
    ASSERT_NO_FATAL_FAILURE(session.start());
    EXPECT_EQ(session.ask("getVolumeMountURL \"" + (m_root / "site/index.html").string() + "\"\n"),
        "\"sftp://alice@example.test:2222" + m_root.string() + "/srv/www\"");
    EXPECT_EQ(session.ask("getVolumeMountURL \"" + (m_root / "home").string() + "\"\n"), "<nil>");
}

} // namespace
