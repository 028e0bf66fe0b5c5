// Samba guest shares mounted through GVfs: smbd with a configuration of the
// test's own, on a loopback port of its own.
#include "integration/gvfs_session.h"
#include "unit/platform/platform_test_support.h"

#include <fstream>

namespace {

using namespace harness;
namespace fs = std::filesystem;

const fs::path kSmbd = "/usr/sbin/smbd";

class SambaGuestShare : public GVfsSession {
protected:
    void SetUp() override
    {
        constexpr uid_t kNobody = 65534;
        if (!platform::testing::mayBecomeUser(kNobody))
            GTEST_SKIP() << "smbd serves guests as nobody, whom only root outside a user namespace may become";
        startSession({ kSmbd });
        if (!ready())
            return;
        auto share = m_bundle.home() / "share", state = m_bundle.home() / "samba";
        fs::create_directories(share);
        fs::create_directories(state);
        std::ofstream(share / "a.txt") << "hello";
        // smbd reads the share as the guest account. Folders that let it in
        // already are left alone: in a user namespace /tmp is not ours to change.
        const auto guestMayRead = fs::perms::others_read | fs::perms::others_exec;
        for (auto folder = share; folder != folder.root_path(); folder = folder.parent_path()) {
            if ((fs::status(folder).permissions() & guestMayRead) != guestMayRead)
                fs::permissions(folder, guestMayRead, fs::perm_options::add);
        }
        std::ofstream configuration(state / "smb.conf");
        configuration << "[global]\nsmb ports = 4450\ninterfaces = 127.0.0.1\nbind interfaces only = yes\n"
                         "map to guest = Bad User\nguest account = nobody\ndisable netbios = yes\nload printers = no\n"
                         "log file = "
                      << (state / "log").string() << "\n";
        // All that smbd keeps stays in the test's folder.
        for (auto folder : { "private dir", "lock directory", "state directory", "cache directory", "pid directory",
                 "ncalrpc dir" })
            configuration << folder << " = " << state.string() << "\n";
        configuration << "[guestshare]\nguest ok = yes\npath = " << share.string() << "\n"
                      << "[members]\nguest ok = no\npath = " << share.string() << "\n";
        configuration.close();
        m_smbd.emplace(std::vector<std::string> { kSmbd, "--foreground", "-s", (state / "smb.conf").string() });
        ASSERT_TRUE(eventually([] { return acceptsConnections(4450); })) << "no Samba server";
    }

    std::optional<Daemon> m_smbd;
};

TEST_F(SambaGuestShare, MountsAsGuestAndTheURLItNamesMountsAgain)
{
    auto root = (m_gvfsFolder / "smb-share:port=4450,server=127.0.0.1,share=guestshare").string();
    EXPECT_EQ(ask("mountVolumeWithMountURL \"smb://127.0.0.1:4450/guestshare\"\n"), inQuotes(root));
    auto url = ask("getVolumeMountURL " + inQuotes(root + "/a.txt") + "\n");
    ASSERT_EQ(url, inQuotes("smb://127.0.0.1:4450/guestshare"));
    unmountElsewhere("smb://127.0.0.1:4450/guestshare");
    EXPECT_EQ(ask("mountVolumeWithMountURL " + *url + "\n"), inQuotes(root));
    EXPECT_TRUE(fs::exists(root + "/a.txt"));

    // A share that turns guests away wants a password: nobody gives one,
    // and a refused guest is not tried over and over.
    auto start = Clock::now();
    EXPECT_EQ(ask("mountVolumeWithMountURL \"smb://127.0.0.1:4450/members\"\n"), "<nil>");
    EXPECT_LT(Clock::now() - start, 10s);
}

} // namespace
