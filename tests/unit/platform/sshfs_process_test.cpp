// The port of an sshfs mount, read from the command line of the sshfs
// process that serves it.
#include "platform/linux/volumes/sshfs_arguments.h"
#include "platform/linux/volumes/sshfs_processes.h"
#include "unit/platform/platform_test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace platform::linux_files {
namespace {

TEST(SshfsArguments, ReadThePortAsSshfsHandsItToSsh)
{
    for (auto const& [given, port] : std::initializer_list<std::pair<std::vector<std::string>, std::optional<int>>> {
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
        auto arguments = sshfsArgumentsFrom(given);
        ASSERT_TRUE(arguments) << given.front();
        EXPECT_EQ(arguments->source, "al@h:/srv") << given.front();
        EXPECT_EQ(arguments->port, port) << given.front();
    }
    EXPECT_EQ(sshfsArgumentsFrom({ "-p", "2222", "/mnt/x" }), std::nullopt);
}

// The real sshfs is tried in the integration tests; what it cannot cheaply
// show is a process of another user, which must not speak for our mounts.
TEST(SshfsProcess, OnlyTheOwnersProcessNamingTheMountGivesItsPort)
{
    testing::TemporaryDirectory folder;
    std::filesystem::copy_file(STAND_IN_APPLICATION, folder / "sshfs");
    testing::ChildProcess sshfs(folder / "sshfs", { "-p", "2222", "al@h:/srv", folder / "mnt/" });
    auto mount = [&](const std::string& source, uid_t owner) {
        return MountEntry { 7, 0, "/", folder / "mnt", "fuse.sshfs", source, "rw,user_id=" + std::to_string(owner) };
    };
    EXPECT_TRUE(testing::eventually([&] { return sshfsPortServing(mount("al@h:/srv", getuid())) == 2222; }));
    EXPECT_EQ(sshfsPortServing(mount("al@h:/srv", getuid() + 1)), std::nullopt);
    EXPECT_EQ(sshfsPortServing(mount("al@h:/other", getuid())), std::nullopt);
}

} // namespace
} // namespace platform::linux_files
