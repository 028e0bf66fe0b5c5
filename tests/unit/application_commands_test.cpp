// The application-control and media-player rows, driven through the command
// table with fake platform services.
#include "fakes/fake_platform.h"
#include "helper/network_listener.h"

#include <gtest/gtest.h>

namespace {

using Request = FakeApplicationControl::Request;
using Record = FakeApplicationControl::Record;
using namespace std::chrono_literals;

constexpr std::uint32_t kQuit = 0x71756974;
constexpr std::uint32_t kOpen = 0x6f617070;

class ApplicationCommands : public testing::Test {
protected:
    void run(const std::string& name, platform::ProcessID pid) { fake.applications.applications.push_back({ name, pid, std::nullopt }); }
    std::vector<Record> requests() const { return fake.applicationControl.records(); }
    std::size_t sleeps() const { return fake.sleeper.sleeps().size(); }

    FakePlatform fake;
    NetworkListener listener { fake.platform };
};

TEST_F(ApplicationCommands, CoreEventGoesToEveryApplicationOfTheName)
{
    run("Preview", 10);
    run("Other", 11);
    run("Preview", 12);

    EXPECT_EQ(listener.processCommand("SendAppleEvent 1903520116,\"Preview\"\n"), "1");
    EXPECT_EQ(requests(), (std::vector<Record> { { Request::CoreEvent, 10, kQuit }, { Request::CoreEvent, 12, kQuit } }));

    // The event ID may come as text; its leading decimal value counts.
    EXPECT_EQ(listener.processCommand("SendAppleEvent \"1868656752\",\"Other\"\n"), "1");
    EXPECT_EQ(requests().back(), (Record { Request::CoreEvent, 11, kOpen }));
}

TEST_F(ApplicationCommands, CoreEventThatCannotBeBuiltStillFindsTheApplications)
{
    run("Preview", 10);
    run("Preview", 12);
    EXPECT_EQ(listener.processCommand("SendAppleEvent 1936483696,\"Preview\"\n"), "1");
    EXPECT_EQ(listener.processCommand("SendAppleEvent 0,\"Preview\"\n"), "1");
    EXPECT_TRUE(requests().empty());
}

TEST_F(ApplicationCommands, NamesMatchExactlyAndWithCase)
{
    run("Preview", 10);
    for (auto line : { "SendAppleEvent 1903520116,\"preview\"\n", "SendAppleEvent 1903520116,\"Preview \"\n",
             "SendAppleEvent 1903520116,\"\"\n", "terminateProcessNamed \"PREVIEW\"\n", "terminateProcessNamed \"Prev\"\n" })
        EXPECT_EQ(listener.processCommand(line), "0") << line;
    EXPECT_TRUE(requests().empty());
}

TEST_F(ApplicationCommands, TerminateAsksOnlyTheFirstApplicationOfTheName)
{
    run("Other", 9);
    run("Preview", 10);
    run("Preview", 12);
    EXPECT_EQ(listener.processCommand("terminateProcessNamed \"Preview\"\n"), "1");
    EXPECT_EQ(requests(), (std::vector<Record> { { Request::Terminate, 10 } }));
}

TEST_F(ApplicationCommands, IntegerWhereANameBelongsAnswersZeroWithoutAction)
{
    run("5", 10);
    fake.fileManager.kind = platform::PathKind::NotDirectory;
    for (auto line : { "terminateProcessNamed 5\n", "SendAppleEvent 1903520116,5\n", "makeFrontProcessNamed 5\n",
             "launchVLCPreview 5\n" })
        EXPECT_EQ(listener.processCommand(line), "0") << line;
    EXPECT_TRUE(requests().empty());
    EXPECT_TRUE(fake.launcher.launched().empty());
    EXPECT_EQ(sleeps(), 0u);
}

TEST_F(ApplicationCommands, MissingParametersAnswerNilWithoutAction)
{
    run("Preview", 10);
    for (auto line : { "SendAppleEvent 1903520116\n", "terminateProcessNamed\n", "makeFrontProcessNamed\n", "launchVLCPreview\n" })
        EXPECT_EQ(listener.processCommand(line), "<nil>") << line;
    EXPECT_TRUE(requests().empty());
    EXPECT_TRUE(fake.launcher.launched().empty());
}

TEST_F(ApplicationCommands, MakeFrontActivatesEveryApplicationOfTheNameAtOnce)
{
    run("Preview", 10);
    run("Preview", 12);
    EXPECT_EQ(listener.processCommand("makeFrontProcessNamed \"Preview\"\n"), "1");
    EXPECT_EQ(requests(), (std::vector<Record> { { Request::Activate, 10 }, { Request::Activate, 12 } }));
    EXPECT_EQ(sleeps(), 0u);
}

TEST_F(ApplicationCommands, MakeFrontGivesUpAfterTenAttemptsHalfASecondApart)
{
    run("Preview", 10);
    EXPECT_EQ(listener.processCommand("makeFrontProcessNamed \"preview\"\n"), "0");
    EXPECT_EQ(fake.sleeper.sleeps(), std::vector<std::chrono::milliseconds>(10, 500ms));
    EXPECT_TRUE(requests().empty());
}

TEST_F(ApplicationCommands, MakeFrontActivatesAnApplicationThatAppearsDuringTheAttempts)
{
    fake.sleeper.whileAsleep = [&] {
        if (sleeps() == 4)
            run("Late", 77);
    };
    EXPECT_EQ(listener.processCommand("makeFrontProcessNamed \"Late\"\n"), "1");
    EXPECT_EQ(sleeps(), 4u);
    EXPECT_EQ(requests(), (std::vector<Record> { { Request::Activate, 77 } }));
}

class MediaPlayerCommands : public ApplicationCommands { };

TEST_F(MediaPlayerCommands, DetectsOnlyAFileAtThePlayersPlace)
{
    using platform::PathKind;
    for (auto [kind, reply] : { std::pair { PathKind::NotDirectory, "1" }, { PathKind::Directory, "0" }, { PathKind::Missing, "0" } }) {
        fake.fileManager.kind = kind;
        EXPECT_EQ(listener.processCommand("detectVLCAvailable\n"), reply);
    }
    EXPECT_EQ(fake.fileManager.askedPaths, std::vector<std::string>(3, "/fake/bin/vlc"));
}

TEST_F(MediaPlayerCommands, StartsThePlayerWithItsOptionsThenThePathAsOneArgument)
{
    run("vlc", 31);
    EXPECT_EQ(listener.processCommand("launchVLCPreview \"/media/My  Movie Part 1.avi\"\n"), "1");
    EXPECT_EQ(listener.processCommand("launchVLCPreview \"\"\n"), "1");
    using Launch = std::pair<std::string, std::vector<std::string>>;
    EXPECT_EQ(fake.launcher.launched(), (std::vector<Launch> {
                                            { "/fake/bin/vlc", { "--avi-index=2", "/media/My  Movie Part 1.avi" } },
                                            { "/fake/bin/vlc", { "--avi-index=2", "" } },
                                        }));
    EXPECT_EQ(requests(), (std::vector<Record> { { Request::Activate, 31 }, { Request::Activate, 31 } }));
}

TEST_F(MediaPlayerCommands, PathStartingWithADashReachesThePlayerAsAFile)
{
    EXPECT_EQ(listener.processCommand("launchVLCPreview \"-x\"\n"), "1");
    EXPECT_EQ(listener.processCommand("launchVLCPreview \"--help\"\n"), "1");
    EXPECT_EQ(listener.processCommand("launchVLCPreview \"a-b\"\n"), "1");
    auto launched = fake.launcher.launched();
    ASSERT_EQ(launched.size(), 3u);
    EXPECT_EQ(launched[0].second.back(), "./-x");
    EXPECT_EQ(launched[1].second.back(), "./--help");
    EXPECT_EQ(launched[2].second.back(), "a-b");
}

// Where the first installation is missing, the next one present is started,
// through its sandbox's launcher, with the file between the forwarding marks.
TEST_F(MediaPlayerCommands, TakesTheFirstInstallationPresentAndStartsItThroughItsLauncher)
{
    fake.mediaPlayers.push_back({ "/fake/flatpak/exports/bin/org.videolan.VLC", { "--avi-index=2" }, "vlc", "/fake/bin/flatpak",
        { "run", "--user", "--file-forwarding", "org.videolan.VLC" }, "@@" });
    fake.fileManager.kinds["/fake/flatpak/exports/bin/org.videolan.VLC"] = platform::PathKind::NotDirectory;
    run("vlc", 31);

    EXPECT_EQ(listener.processCommand("detectVLCAvailable\n"), "1");
    EXPECT_EQ(listener.processCommand("launchVLCPreview \"-movie.avi\"\n"), "1");
    using Launch = std::pair<std::string, std::vector<std::string>>;
    EXPECT_EQ(fake.launcher.launched(), (std::vector<Launch> { { "/fake/bin/flatpak", { "run", "--user", "--file-forwarding", "org.videolan.VLC", "--avi-index=2", "@@", "./-movie.avi", "@@" } } }));
    fake.fileManager.kinds.clear();
    EXPECT_EQ(listener.processCommand("detectVLCAvailable\n"), "0");
}

TEST_F(MediaPlayerCommands, PlayerThatNeverAppearsStillCountsAsLaunched)
{
    run("VLC", 31);
    EXPECT_EQ(listener.processCommand("launchVLCPreview \"/m.avi\"\n"), "1");
    EXPECT_EQ(sleeps(), 10u);
    EXPECT_TRUE(requests().empty());
}

TEST_F(MediaPlayerCommands, PlayerThatCannotStartAnswersZeroAtOnce)
{
    run("vlc", 31);
    fake.launcher.launchFails = true;
    EXPECT_EQ(listener.processCommand("launchVLCPreview \"/m.avi\"\n"), "0");
    EXPECT_EQ(sleeps(), 0u);
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(listener.processCommand("detectVLCAvailable\n"), "0");
}

} // namespace
