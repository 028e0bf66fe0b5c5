// The port of an sshfs mount, read from the command line of the sshfs
// process that serves it; a stand-in started as "sshfs" plays that process.
#include "platform/linux/sshfs_arguments.h"
#include "platform/linux/sshfs_processes.h"
#include "unit/platform/platform_test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace platform::linux_files {
namespace {

TEST(SshfsArguments, ReadThePortAsSshfsHandsItToSsh)
{
    struct Row {
        std::vector<std::string> arguments;
        std::optional<int> port;
    };
    for (auto const& row : std::initializer_list<Row> {
             { { "-p", "2222", "al@h:/srv", "/mnt/x" }, 2222 },
             { { "al@h:/srv", "/mnt/x", "-p2223" }, 2223 },
             { { "-o", "reconnect,port=2224,idmap=user", "al@h:/srv", "/mnt/x" }, 2224 },
             { { "-oPort=2225", "al@h:/srv", "/mnt/x" }, 2225 },
             { { "-o", "port=2226", "-p", "2227", "al@h:/srv", "/mnt/x" }, 2226 }, // ssh keeps the first
             { { "-o", "ssh_command=a\\,port=1,port=2228", "al@h:/srv", "/mnt/x" }, 2228 },
             { { "-F", "/etc/ssh:x", "al@h:/srv", "/mnt/x", "-o", "allow_other" }, std::nullopt },
             { { "-p", "99999", "al@h:/srv", "/mnt/x" }, std::nullopt },
             { { "al@h:/srv", "--", "-p", "2229" }, std::nullopt },
         }) {
        auto arguments = sshfsArgumentsFrom(row.arguments);
        ASSERT_TRUE(arguments) << row.arguments.front();
        EXPECT_EQ(arguments->source, "al@h:/srv") << row.arguments.front();
        EXPECT_EQ(arguments->port, row.port) << row.arguments.front();
    }
    EXPECT_EQ(sshfsArgumentsFrom({ "-p", "2222", "/mnt/x" }), std::nullopt);
}

class SshfsProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::copy_file(STAND_IN_APPLICATION, folder / "sshfs");
        std::filesystem::create_directory(folder / "mnt");
    }

    // A mount the way the kernel shows an sshfs mount of ours at folder/mnt.
    MountEntry mount(const std::string& source = "al@h:/srv", uid_t owner = getuid()) const
    {
        return { 7, 0, "/", folder / "mnt", "fuse.sshfs", source, "rw,user_id=" + std::to_string(owner) + ",group_id=0" };
    }

    testing::TemporaryDirectory folder;
};

TEST_F(SshfsProcess, GivesThePortOfTheProcessNamingTheMount)
{
    testing::ChildProcess sshfs(folder / "sshfs", { "-o", "reconnect,port=2222", "al@h:/srv", folder / "mnt/" });
    EXPECT_TRUE(testing::eventually([&] { return sshfsPortServing(mount()) == 2222; }));
    // Not for a mount it does not name, one of another user, or not sshfs's.
    auto other = mount();
    other.mountPoint = folder / "elsewhere";
    auto notSshfs = mount();
    notSshfs.fileSystemType = "fuse.other";
    for (auto const& unserved : { mount("al@h:/other"), mount("al@h:/srv", getuid() + 1), other, notSshfs })
        EXPECT_EQ(sshfsPortServing(unserved), std::nullopt) << unserved.source << " " << unserved.mountPoint;
}

} // namespace
} // namespace platform::linux_files
