#include "fakes/fake_platform.h"
#include "helper/network_listener.h"
#include "operations/non_sandboxable_functions.h"

#include <gtest/gtest.h>

namespace {

using platform::PathKind;

class FileBusy : public testing::Test {
protected:
    bool fileBusy(const std::string& path = "/downloads/movie.mkv")
    {
        return NonSandboxableFunctions::fileBusy(fake.platform.operations, path);
    }
    void run(const std::string& name, platform::ProcessID pid) { fake.applications.applications.push_back({ name, pid, {} }); }

    FakePlatform fake;
};

TEST_F(FileBusy, FileBrowsersDoNotMakeAFileBusy)
{
    run("Finder", 10);
    run("cPath Finder", 11);
    run("Finder", 12);
    run("cFinder", 13);
    fake.openFileHolders.holders = { 10, 12, 11, 13, 10 };
    EXPECT_FALSE(fileBusy());
}

TEST_F(FileBusy, OnlyExactNamesAreFileBrowsers)
{
    for (auto name : { "finder", "Finder ", " Finder", "FINDER", "cpath finder", "Path Finder", "Ferrowind 3" }) {
        FakePlatform other;
        other.applications.applications = { { "Finder", 10, {} }, { name, 20, {} } };
        other.openFileHolders.holders = { 10, 20 };
        EXPECT_TRUE(NonSandboxableFunctions::fileBusy(other.platform.operations, "/f")) << '"' << name << '"';
    }
}

TEST_F(FileBusy, AnyOtherHolderMakesItBusyAndEndsTheScan)
{
    run("Finder", 10);
    fake.openFileHolders.holders = { 10, 30, 31, 32 };
    EXPECT_TRUE(fileBusy("/a b/ü.txt"));
    EXPECT_EQ(fake.openFileHolders.reported, 1);
    EXPECT_EQ(fake.openFileHolders.queriedPaths, std::vector<std::string> { "/a b/ü.txt" });
    // A holder that is not an application at all still counts.
    fake.openFileHolders.holders = { 99 };
    EXPECT_TRUE(fileBusy());
}

TEST_F(FileBusy, NoHolderMeansFreeWithoutAskingTheFileSystem)
{
    fake.fileManager.kind = PathKind::NotDirectory;
    EXPECT_FALSE(fileBusy());
    EXPECT_TRUE(fake.fileManager.askedPaths.empty());
}

TEST_F(FileBusy, WhenTheQueryFailsAnExistingNonDirectoryCountsAsBusy)
{
    fake.openFileHolders.outcome = platform::OpenFileHolders::Query::failed;
    fake.fileManager.kind = PathKind::NotDirectory;
    EXPECT_TRUE(fileBusy("/x"));
    fake.fileManager.kind = PathKind::Directory;
    EXPECT_FALSE(fileBusy("/x"));
    fake.fileManager.kind = PathKind::Missing;
    EXPECT_FALSE(fileBusy("/x"));
    fake.fileManager.kind = PathKind::Unreachable;
    EXPECT_TRUE(fileBusy("/x"));
    EXPECT_EQ(fake.fileManager.askedPaths, (std::vector<std::string> { "/x", "/x", "/x", "/x" }));
}

TEST_F(FileBusy, AFileOnASilentServerIsBusyWithoutAskingAgain)
{
    fake.openFileHolders.outcome = platform::OpenFileHolders::Query::unreachable;
    EXPECT_TRUE(fileBusy("/x"));
    run("Finder", 10);
    fake.openFileHolders.openers = platform::OpenFileHolders::Openers::some;
    EXPECT_TRUE(fileBusy("/x"));
    EXPECT_EQ(fake.openFileHolders.queriedPaths.size(), 2u);
    EXPECT_TRUE(fake.fileManager.askedPaths.empty());
}

// Processes are looked into only where a file browser runs, and then only as
// far as needed. "player" (20) always runs, "Finder" (10) where told.
TEST_F(FileBusy, TheKernelsOneStepAnswerSparesTheScan)
{
    using Openers = platform::OpenFileHolders::Openers;
    struct Row {
        Openers openers;
        bool finderRuns;
        std::vector<platform::ProcessID> holders;
        bool busy;
        std::vector<std::string> queries;
    };
    for (auto const& row : std::initializer_list<Row> {
             { Openers::none, true, { 10 }, false, {} },
             { Openers::unreachable, true, { 10 }, true, {} },
             { Openers::some, true, { 10 }, false, { "only 10", "all but 10" } },
             { Openers::some, true, { 10, 20 }, true, { "only 10", "all but 10" } },
             { Openers::some, false, { 20 }, true, {} },
             // Held by someone we may not look into.
             { Openers::some, true, {}, true, { "only 10" } },
             { Openers::unknown, true, { 10 }, false, { "all but 10" } },
             { Openers::unknown, false, { 20 }, true, { "all but" } },
         }) {
        fake.applications.applications = { { "player", 20, {} } };
        if (row.finderRuns)
            run("Finder", 10);
        fake.openFileHolders.openers = row.openers;
        fake.openFileHolders.holders = row.holders;
        fake.openFileHolders.queriedProcesses.clear();
        EXPECT_EQ(fileBusy(), row.busy) << static_cast<int>(row.openers) << " " << row.holders.size();
        EXPECT_EQ(fake.openFileHolders.queriedProcesses, row.queries) << static_cast<int>(row.openers);
    }
}

TEST_F(FileBusy, RowPassesTheTextAndAnswersZeroForAnInteger)
{
    NetworkListener listener { fake.platform };
    fake.openFileHolders.holders = { 77 };
    EXPECT_EQ(listener.processCommand("fileBusy \"/tmp/a b\"\n"), "1");
    EXPECT_EQ(fake.openFileHolders.queriedPaths.back(), "/tmp/a b");
    auto queries = fake.openFileHolders.queriedPaths.size();
    EXPECT_EQ(listener.processCommand("fileBusy 5\n"), "0");
    EXPECT_EQ(listener.processCommand("fileBusy /tmp/a\n"), "0");
    // A quote that nothing closes is no text.
    EXPECT_EQ(listener.processCommand("fileBusy \"/tmp/a, b\n"), "0");
    EXPECT_EQ(fake.openFileHolders.queriedPaths.size(), queries);
    EXPECT_EQ(listener.processCommand("fileBusy\n"), "<nil>");
    EXPECT_EQ(listener.processCommand("filebusy \"/tmp/a\"\n"), "<nil>");
}

} // namespace
