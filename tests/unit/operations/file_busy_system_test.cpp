// The file-busy check on the real system: real processes, named as the user
// would see them, holding a real file.

#include "fakes/fake_platform.h"
#include "operations/non_sandboxable_functions.h"
#include "platform/linux_platform.h"
#include "support/held_file.h"

#include <gtest/gtest.h>

namespace {

using support::FileHolderProcess;

class FileBusyOnThisSystem : public testing::Test {
protected:
    void SetUp() override { platform::testing::writeTextFile(file, "partial download"); }
    bool fileBusy(const std::string& path) { return NonSandboxableFunctions::fileBusy(operations, path); }
    bool fileBusy() { return fileBusy(file); }
    void hold(const std::string& name, const std::string& mode = "open")
    {
        holders.push_back(std::make_unique<FileHolderProcess>(scratch.path(), name, mode, file));
    }

    std::unique_ptr<platform::RunningApplications> applications = platform::makeRunningApplications();
    std::unique_ptr<platform::OpenFileHolders> openFileHolders = platform::makeOpenFileHolders();
    std::unique_ptr<platform::FileManager> fileManager = platform::makeFileManager();
    FakePlatform fake;
    OperationsPlatform operations = fake.withFileServices(*applications, *openFileHolders, *fileManager);
    platform::testing::TemporaryDirectory scratch;
    std::string file = scratch / "movie.part";
    std::vector<std::unique_ptr<FileHolderProcess>> holders;
};

TEST_F(FileBusyOnThisSystem, FreeFilesMissingPathsAndFoldersAreNotBusy)
{
    EXPECT_FALSE(fileBusy());
    EXPECT_FALSE(fileBusy(scratch / "missing"));
    EXPECT_FALSE(fileBusy(scratch.path().string()));
    hold("watcher", "watch");
    EXPECT_FALSE(fileBusy());
}

TEST_F(FileBusyOnThisSystem, AnOrdinaryHolderMakesItBusy)
{
    hold("Ferrowind 3", "map");
    EXPECT_TRUE(fileBusy());
}

TEST_F(FileBusyOnThisSystem, FinderHoldersAreDisregarded)
{
    hold("Finder");
    EXPECT_FALSE(fileBusy());
    hold("Finder");
    hold("cPath Finder", "map");
    EXPECT_FALSE(fileBusy());
}

// "watch" keeps a file browser running without holding the file; "path"
// only names it.
TEST_F(FileBusyOnThisSystem, FinderBesideOtherHolders)
{
    using Holds = std::vector<std::pair<std::string, std::string>>;
    for (auto const& [holds, busy] : std::initializer_list<std::pair<Holds, bool>> {
             { { { "Finder", "write" } }, false },
             { { { "Finder", "open" }, { "player", "open" } }, true },
             { { { "Finder", "open" }, { "player", "map" } }, true },
             { { { "Finder", "watch" }, { "player", "map" } }, true },
             { { { "Finder", "watch" }, { "namer", "path" } }, false },
         }) {
        holders.clear();
        for (auto const& [name, mode] : holds)
            hold(name, mode);
        EXPECT_EQ(fileBusy(), busy) << holds.back().first << " " << holds.back().second;
    }
}

TEST_F(FileBusyOnThisSystem, NamesCloseToFinderAreNotDisregarded)
{
    hold("Finder");
    hold("finder");
    EXPECT_TRUE(fileBusy());
}

TEST_F(FileBusyOnThisSystem, ATrailingBlankIsNotDisregarded)
{
    hold("Finder ");
    EXPECT_TRUE(fileBusy());
}

} // namespace
