#include "platform/linux/file_holders/memory_maps.h"
#include "platform/linux_platform.h"
#include "support/held_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

namespace platform {
namespace {

using support::FileHolderProcess;

class OpenFileHoldersQuery : public ::testing::Test {
protected:
    void SetUp() override { testing::writeTextFile(file, "contents"); }

    // Every holder the query reports, or nothing when it fails.
    std::optional<std::vector<ProcessID>> holders(const std::string& path,
        const OpenFileHolders::Processes& among = OpenFileHolders::Processes::allBut({}))
    {
        std::vector<ProcessID> found;
        auto outcome = query->forEachHolder(path, among, [&](ProcessID pid) {
            found.push_back(pid);
            return OpenFileHolders::Scan::Continue;
        });
        return outcome == OpenFileHolders::Query::answered ? std::optional(found) : std::nullopt;
    }
    bool reports(pid_t pid)
    {
        auto found = holders(file);
        return found && std::ranges::find(*found, pid) != found->end();
    }

    testing::TemporaryDirectory scratch;
    std::string file = scratch / "download.bin";
    std::unique_ptr<OpenFileHolders> query = makeOpenFileHolders();
};

TEST_F(OpenFileHoldersQuery, FindsOpenDescriptorsAndMappingsButNotWatches)
{
    FileHolderProcess opened(scratch.path(), "opener", "open", file);
    FileHolderProcess mapped(scratch.path(), "mapper", "map", file);
    FileHolderProcess watching(scratch.path(), "watcher", "watch", file);
    EXPECT_TRUE(reports(opened.pid()));
    EXPECT_TRUE(reports(mapped.pid()));
    EXPECT_FALSE(reports(watching.pid()));
    EXPECT_EQ(holders(file)->size(), 2u);
    using Processes = OpenFileHolders::Processes;
    EXPECT_EQ(holders(file, Processes::only({ watching.pid(), opened.pid() })), std::vector { opened.pid() });
    EXPECT_EQ(holders(file, Processes::allBut({ opened.pid() })), std::vector { mapped.pid() });
}

TEST_F(OpenFileHoldersQuery, FollowsTheFileNotItsName)
{
    FileHolderProcess opened(scratch.path(), "opener", "open", file);
    auto link = scratch / "link";
    std::filesystem::create_symlink(file, link);
    EXPECT_EQ(holders(link), std::vector<ProcessID> { opened.pid() });

    auto other = scratch / "other.bin";
    testing::writeTextFile(other, "contents");
    EXPECT_EQ(holders(other), std::vector<ProcessID> {});
}

TEST_F(OpenFileHoldersQuery, StopsWhenAsked)
{
    FileHolderProcess first(scratch.path(), "a", "open", file);
    FileHolderProcess second(scratch.path(), "b", "open", file);
    int calls = 0;
    EXPECT_EQ(query->forEachHolder(file, OpenFileHolders::Processes::allBut({}), [&](ProcessID) {
        ++calls;
        return OpenFileHolders::Scan::Stop;
    }),
        OpenFileHolders::Query::answered);
    EXPECT_EQ(calls, 1);
}

TEST_F(OpenFileHoldersQuery, FailsForPathsItCannotExamine)
{
    EXPECT_EQ(holders(scratch / "missing"), std::nullopt);
    EXPECT_EQ(holders(""), std::nullopt);
    EXPECT_EQ(holders(file + std::string(1, '\0') + "x"), std::nullopt);
    EXPECT_EQ(holders(scratch.path().string()), std::vector<ProcessID> {});
}

TEST_F(OpenFileHoldersQuery, TheKernelTellsAtOnceWhetherAnyoneElseHasAFileOpen)
{
    using Openers = OpenFileHolders::Openers;
    EXPECT_EQ(query->otherOpeners(file), Openers::none);
    for (auto mode : { "open", "write", "map" }) {
        FileHolderProcess holder(scratch.path(), mode, mode, file);
        EXPECT_EQ(query->otherOpeners(file), Openers::some) << mode;
    }
    EXPECT_EQ(query->otherOpeners(file), Openers::none);
    // A running program is held by its process.
    FileHolderProcess running(scratch.path(), "runner", "watch", file);
    auto program = std::filesystem::read_symlink("/proc/" + std::to_string(running.pid()) + "/exe");
    EXPECT_EQ(query->otherOpeners(program), Openers::some);
    EXPECT_EQ(query->otherOpeners(scratch.path().string()), Openers::unknown) << "a folder";
    EXPECT_EQ(query->otherOpeners(scratch / "missing"), Openers::unknown);
}

TEST_F(OpenFileHoldersQuery, AReferenceThatOnlyNamesTheFileHoldsNothing)
{
    FileHolderProcess naming(scratch.path(), "namer", "path", file);
    EXPECT_EQ(query->otherOpeners(file), OpenFileHolders::Openers::none);
    EXPECT_EQ(holders(file), std::vector<ProcessID> {});
}

TEST_F(OpenFileHoldersQuery, AFifoIsNeverOpened)
{
    auto fifo = scratch / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(query->otherOpeners(fifo), OpenFileHolders::Openers::unknown);
    EXPECT_EQ(holders(fifo), std::vector<ProcessID> {});
}

// Another user's file refuses us the lease; the scan still finds our own
// processes that hold it.
TEST_F(OpenFileHoldersQuery, SomeoneElsesFileIsLeftToTheScan)
{
    if (!platform::testing::mayBecomeUser(65534))
        GTEST_SKIP() << "needs root to act as another user";
    std::filesystem::permissions(scratch.path(), std::filesystem::perms::all & ~std::filesystem::perms::others_write);
    pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(10);
        if (query->otherOpeners(file) != OpenFileHolders::Openers::unknown)
            _exit(11);
        if (holders(file) != std::vector<ProcessID> {})
            _exit(12);
        bool found = false;
        {
            testing::ChildProcess holder(FILE_HOLDER_PROGRAM, { "open", file, "/dev/null" });
            found = testing::eventually([&] { return reports(holder.pid()); }, std::chrono::seconds(5));
        }
        _exit(found ? 0 : 13);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(MemoryMaps, MatchesDeviceAndInodeFieldsOnly)
{
    const std::string maps = "55d0c0a00000-55d0c0a02000 r--p 00000000 fe:00 5308460    /usr/bin/cat\n"
                             "7f00000000-7f00001000 rw-p 00000000 00:00 0 \n"
                             "7f10000000-7f10001000 r--s 00000000 103:02 42    /mnt/a b (deleted)\n"
                             "7f20000000-7f20001000 r--p 00000000 08:01 77    /fe:00 99\n";
    EXPECT_TRUE(linux_files::mapsMentionFile(maps, makedev(0xfe, 0), 5308460));
    EXPECT_TRUE(linux_files::mapsMentionFile(maps, makedev(0x103, 2), 42));
    EXPECT_FALSE(linux_files::mapsMentionFile(maps, makedev(0xfe, 0), 99));
    EXPECT_FALSE(linux_files::mapsMentionFile(maps, makedev(0, 0), 0));
    EXPECT_FALSE(linux_files::mapsMentionFile(maps, makedev(0xfe, 1), 5308460));
    EXPECT_FALSE(linux_files::mapsMentionFile("garbage\n\n1 2 3\n", makedev(0, 0), 3));
}

} // namespace
} // namespace platform
