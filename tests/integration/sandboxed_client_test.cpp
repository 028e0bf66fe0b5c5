// Clients in real Flatpak sandboxes: every application with network access
// reaches the port, and only the main application, or one the bundle lists,
// is served.
#include "integration/gvfs_session.h"
#include "integration/helper_harness.h"
#include "support/flatpak_apps.h"
#include "support/held_file.h"
#include "support/text_files.h"
#include "unit/platform/platform_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
        const auto reply = platform::testing::readTextFile(m_apps.dataFolder(row.id) / "reply");
        if (row.served)
            EXPECT_TRUE(reply.starts_with("Ferrowind Helper/") && reply.ends_with("\n" + version() + "\n")) << reply;
        else
            EXPECT_EQ(reply, "");
    }
    expectStillServing();
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

} // namespace
