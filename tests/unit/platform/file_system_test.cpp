#include "platform/file_system.h"
#include "platform/mapped_file.h"
#include "unit/platform/platform_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace fs = std::filesystem;

namespace {

using platform::testing::readTextFile;
using platform::testing::TemporaryDirectory;

fs::perms permissionsOf(const fs::path& path) { return fs::status(path).permissions() & fs::perms::all; }

TEST(FileSystem, ANewFileIsPrivateHoldsEveryByteAndNeverReplacesOne)
{
    TemporaryDirectory folder;
    const auto path = folder.path() / "archive";
    auto file = platform::createNewFile(path.string());
    ASSERT_TRUE(file);
    const std::string bytes(1 << 20, 'x');
    EXPECT_TRUE(file->write(bytes));
    EXPECT_TRUE(file->close());
    EXPECT_EQ(readTextFile(path), bytes);
    EXPECT_EQ(permissionsOf(path), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(platform::createNewFile(path.string())) << "an existing file";
}

TEST(FileSystem, UniqueFoldersArePrivateAndDistinct)
{
    TemporaryDirectory folder;
    const std::string prefix = (folder.path() / ".bundle.update-").string();
    auto first = platform::makeUniqueFolder(prefix);
    auto second = platform::makeUniqueFolder(prefix);
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_TRUE(first->starts_with(prefix)) << *first;
    EXPECT_EQ(permissionsOf(*first), fs::perms::owner_all);
    EXPECT_FALSE(platform::makeUniqueFolder((folder.path() / "missing/x-").string()));
}

TEST(FileSystem, AMappedFileHoldsItsBytesAndOnlyRegularFilesMap)
{
    TemporaryDirectory folder;
    std::ofstream(folder.path() / "message") << "signed bytes";
    std::ofstream(folder.path() / "empty");
    auto message = platform::MappedFile::open((folder.path() / "message").string());
    ASSERT_TRUE(message);
    EXPECT_EQ(std::string(message->bytes().begin(), message->bytes().end()), "signed bytes");
    auto empty = platform::MappedFile::open((folder.path() / "empty").string());
    ASSERT_TRUE(empty) << "an empty file is still readable";
    EXPECT_TRUE(empty->bytes().empty());
    EXPECT_FALSE(platform::MappedFile::open(folder.path().string())) << "a folder";
    EXPECT_FALSE(platform::MappedFile::open((folder.path() / "missing").string()));
}

TEST(FileSystem, ExchangeSwapsAFolderAndAFileOrSaysWhyNot)
{
    TemporaryDirectory folder;
    fs::create_directory(folder.path() / "bundle");
    std::ofstream(folder.path() / "file") << "file";
    EXPECT_EQ(platform::exchangePaths((folder.path() / "bundle").string(), (folder.path() / "file").string()), 0);
    EXPECT_TRUE(fs::is_directory(folder.path() / "file"));
    EXPECT_EQ(readTextFile(folder / "bundle"), "file");
    EXPECT_EQ(platform::exchangePaths((folder.path() / "bundle").string(), (folder.path() / "missing").string()), ENOENT);
}

} // namespace
