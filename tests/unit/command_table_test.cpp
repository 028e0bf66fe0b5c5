#include "fakes/fake_platform.h"
#include "helper/network_listener.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class CommandTable : public testing::Test {
protected:
    FakePlatform fake;
    NetworkListener listener { fake.platform };
};

TEST_F(CommandTable, VersionAnswersTheLoadedShortVersion)
{
    EXPECT_EQ(listener.processCommand("version\n"), "\"3.0.1\"");
    EXPECT_EQ(listener.processCommand("version 1,\"x\"\r"), "\"3.0.1\"");
    fake.platform.mainBundle.info = platform::InfoDictionary();
    EXPECT_EQ(listener.processCommand("version\n"), "<nil>");
}

TEST_F(CommandTable, UnknownAndMiscasedWordsAnswerNilAndChangeNothing)
{
    for (auto line : { "Quit\n", "foo\n", "version\tx\n", "version\nquit\n", "\n", "Restart 1\n", "checkupdate\n" }) {
        EXPECT_EQ(listener.processCommand(line), "<nil>") << line;
    }
    EXPECT_FALSE(listener.isQuitRequested());
    EXPECT_FALSE(listener.isRestartRequested());
}

TEST_F(CommandTable, QuitAndRestartAnswerOneAndSetOnlyTheirFlag)
{
    EXPECT_EQ(listener.processCommand("quit\n"), "1");
    EXPECT_TRUE(listener.isQuitRequested());
    EXPECT_FALSE(listener.isRestartRequested());

    NetworkListener other { fake.platform };
    EXPECT_EQ(other.processCommand("restart\n"), "1");
    EXPECT_TRUE(other.isRestartRequested());
    EXPECT_FALSE(other.isQuitRequested());
}

TEST_F(CommandTable, LogsCommandAndRenderedResult)
{
    listener.processCommand("version 7,\"a\"\n");
    EXPECT_EQ(fake.log.lines(), (std::vector<std::string> {
                                    "Command: version, Parameters: (integer 7, text \"a\")",
                                    "Command result: \"3.0.1\"",
                                }));
}

class RestartIfUpdated : public CommandTable {
protected:
    void SetUp() override
    {
        m_bundle = fs::temp_directory_path() / ("restart-if-updated-" + std::to_string(getpid()) + ".app");
        fs::create_directories(m_bundle / "Contents");
        fake.platform.mainBundle.path = m_bundle.string();
    }
    void TearDown() override { fs::remove_all(m_bundle); }

    void writeInfoPlist(const std::string& body)
    {
        std::ofstream(m_bundle / "Contents/Info.plist") << body;
    }
    static std::string plistWithVersion(const std::string& version)
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
               "<key>CFBundleShortVersionString</key><string>"
            + version + "</string></dict></plist>\n";
    }

    fs::path m_bundle;
};

TEST_F(RestartIfUpdated, SameVersionOnDiskKeepsServing)
{
    writeInfoPlist(plistWithVersion("3.0.1"));
    EXPECT_EQ(listener.processCommand("restartIfUpdated\n"), "1");
    EXPECT_FALSE(listener.isRestartRequested());
}

TEST_F(RestartIfUpdated, OtherOrUnreadableVersionOnDiskRestarts)
{
    for (std::string body : { plistWithVersion("3.0.2"), plistWithVersion("3.0.1 "), std::string("not a plist"),
             std::string("<plist><array><string>3.0.1</string></array></plist>"),
             std::string("<plist><dict><key>CFBundleShortVersionString</key><integer>3</integer></dict></plist>") }) {
        writeInfoPlist(body);
        NetworkListener fresh { fake.platform };
        EXPECT_EQ(fresh.processCommand("restartIfUpdated\n"), "1") << body;
        EXPECT_TRUE(fresh.isRestartRequested()) << body;
        EXPECT_FALSE(fresh.isQuitRequested()) << body;
    }
}

TEST_F(RestartIfUpdated, MissingFileOrMissingRunningVersionRestarts)
{
    EXPECT_EQ(listener.processCommand("restartIfUpdated\n"), "1");
    EXPECT_TRUE(listener.isRestartRequested());

    writeInfoPlist(plistWithVersion("3.0.1"));
    fake.platform.mainBundle.info = platform::InfoDictionary();
    NetworkListener fresh { fake.platform };
    EXPECT_EQ(fresh.processCommand("restartIfUpdated\n"), "1");
    EXPECT_TRUE(fresh.isRestartRequested());
}

} // namespace
