// Samba guest shares mounted through GVfs: smbd with a configuration of the
// test's own, on a loopback port of its own.
#include "integration/gvfs_session.h"

#include <filesystem>
#include <fstream>

namespace {

using namespace harness;
namespace fs = std::filesystem;

constexpr int kSambaPort = 4450;
const fs::path kSmbd = "/usr/sbin/smbd";

class SambaGuestShare : public GVfsSession {
protected:
    void SetUp() override
    {
        startSession({ kSmbd });
        if (!ready())
            return;
        fs::create_directories(m_share);
        std::ofstream(m_share / "a.txt") << "hello";
        // smbd reads the share as the guest account.
        for (auto folder = m_share; folder != folder.root_path(); folder = folder.parent_path())
            fs::permissions(folder, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
        m_smbd.emplace(std::vector<std::string> { kSmbd, "--foreground", "-s", writeConfiguration() });
        ASSERT_TRUE(waitFor([] { return acceptsConnections(kSambaPort); })) << "no Samba server";
    }

    std::string writeConfiguration() const
    {
        auto state = m_bundle.home() / "samba";
        fs::create_directories(state);
        auto path = state / "smb.conf";
        std::ofstream configuration(path);
        configuration << "[global]\nsmb ports = " << kSambaPort
                      << "\ninterfaces = 127.0.0.1\nbind interfaces only = yes\nserver role = standalone server\n"
                         "map to guest = Bad User\nguest account = nobody\ndisable netbios = yes\nload printers = no\n";
        for (auto folder : { "private dir", "lock directory", "state directory", "cache directory", "pid directory",
                 "ncalrpc dir" })
            configuration << folder << " = " << state.string() << "\n";
        configuration << "log file = " << (state / "log").string() << "\n"
                      << "[guestshare]\npath = " << m_share.string() << "\nguest ok = yes\nread only = yes\n"
                      << "[members]\npath = " << m_share.string() << "\nguest ok = no\n";
        return path.string();
    }

    fs::path m_share { m_bundle.home() / "share" };
    std::optional<Daemon> m_smbd;
};

TEST_F(SambaGuestShare, MountsAsGuestAndTheURLItNamesMountsAgain)
{
    auto root = (m_gvfsFolder / "smb-share:port=4450,server=127.0.0.1,share=guestshare").string();
    EXPECT_EQ(ask("mountVolumeWithMountURL \"smb://127.0.0.1:4450/guestshare\"\n"), inQuotes(root));
    EXPECT_TRUE(fs::exists(root + "/a.txt"));

    auto url = ask("getVolumeMountURL " + inQuotes(root + "/a.txt") + "\n");
    ASSERT_EQ(url, inQuotes("smb://127.0.0.1:4450/guestshare"));
    unmountElsewhere("smb://127.0.0.1:4450/guestshare");
    EXPECT_EQ(ask("mountVolumeWithMountURL " + *url + "\n"), inQuotes(root));

    // A share that turns guests away wants a password: nobody gives one,
    // and a refused guest is not tried over and over.
    auto start = Clock::now();
    EXPECT_EQ(ask("mountVolumeWithMountURL \"smb://127.0.0.1:4450/members\"\n"), "<nil>");
    EXPECT_LT(Clock::now() - start, 10s);
}

} // namespace
