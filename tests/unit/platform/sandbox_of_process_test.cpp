#include "platform/linux/sandbox/sandbox_groups.h"
#include "platform/linux/sandbox/sandbox_of_process.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace platform::sandbox {
namespace {

TEST(SnapName, ComesFromTheSnapsControlGroupOnly)
{
    struct Row {
        const char* controlGroups;
        std::optional<std::string> name;
    };
    for (const auto& row : {
             Row { "0::/user.slice/user-1000.slice/user@1000.service/app.slice/snap.vlc.vlc-4b1c.scope\n", "vlc" },
             Row { "12:pids:/user.slice/snap.firefox.firefox.1234.scope\n0::/user.slice/x.scope\n", std::nullopt }, // the unified hierarchy's line alone counts
             Row { "0::/system.slice/snap.lxd.daemon.service\n", "lxd" },
             Row { "0::/user.slice/user-1000.slice/session-2.scope\n", std::nullopt },
             Row { "0::/user.slice/app-flatpak-org.videolan.VLC-1234.scope\n", std::nullopt },
             Row { "0::/snap.vlc/other.scope\n", std::nullopt }, // the snap's group is the last element
             Row { "0::/user.slice/snap.Not_A_Name.app.scope\n", std::nullopt },
             Row { "0::/user.slice/snap.vlc\n", std::nullopt },
             Row { "", std::nullopt },
         }) {
        const auto group = procfs::unifiedGroupIn(row.controlGroups);
        const auto sandbox = group ? sandboxOfGroup(*group) : std::nullopt;
        const auto name = sandbox && sandbox->kind == GroupSandbox::Kind::snap ? std::optional(sandbox->id) : std::nullopt;
        EXPECT_EQ(name, row.name) << row.controlGroups;
    }
}

// What a sandbox says of itself counts only when flatpak would have written
// it: an id as flatpak checks one.
TEST(SandboxOfProcess, AnApplicationIdCountsOnlyInFlatpaksForm)
{
    struct Row {
        const char* name;
        bool counts;
    };
    for (auto row : {
             Row { "com.Calderine.Ferrowind3", true },
             Row { "org.example.My-App_2", true },
             Row { "", false },
             Row { "org.example", false }, // three elements at least
             Row { "org.example.2app", false }, // no element starts with a digit
             Row { "org.ex-ample.App", false }, // dashes in the last element only
             Row { "org..example.App", false },
             Row { "org.example.App.", false },
             Row { "../../org.example.App", false },
             Row { "org.example.App\tevil", false },
         }) {
        const auto id = applicationIdIn(std::string("[Application]\nname=") + row.name + "\n");
        EXPECT_EQ(id.has_value(), row.counts) << row.name;
        EXPECT_EQ(sandboxOfGroup(std::string("app-flatpak-") + row.name + "-12.scope").has_value(), row.counts) << row.name;
    }
}

// A directory kept past its process's end names nothing: its root cannot be
// entered nor its mount table read, and that is what is said of it.
TEST(SandboxOfProcess, AProcessThatHasEndedHasNoRootToLookIn)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    const ProcessDirectory process(child);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(flatpakInfoOf(process).state, SandboxFile::State::rootUnreachable);
    EXPECT_TRUE(process.mountTable().gone()) << process.mountTable().error();
}

TEST(SandboxOfProcess, AnOrdinaryProcessIsInNoSandbox)
{
    EXPECT_FALSE(inOtherMountNamespace(getpid()));
    EXPECT_EQ(flatpakApplicationId(getpid()), std::nullopt);
    EXPECT_FALSE(inOtherMountNamespace(-1));
}

} // namespace
} // namespace platform::sandbox
