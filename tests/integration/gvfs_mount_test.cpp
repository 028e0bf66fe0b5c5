// One real mount through GVfs: an anonymous FTP server on loopback, a private
// session bus on which GVfs starts, and the helper mounting and naming it.
#include "integration/gvfs_session.h"

#include <filesystem>
#include <fstream>

namespace {

using namespace harness;
namespace fs = std::filesystem;

constexpr int kFtpPort = 2121;

bool hasFtpServer() { return std::system("/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null") == 0; }

class RealGVfsMount : public GVfsSession {
protected:
    void SetUp() override
    {
        if (!hasFtpServer())
            GTEST_SKIP() << "pyftpdlib is not installed";
        startSession({});
        if (!ready())
            return;
        fs::create_directories(m_shared);
        std::ofstream(m_shared / "a.txt") << "hello";
        m_ftp.emplace(std::vector<std::string> { "/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p",
            std::to_string(kFtpPort), "-d", m_shared.string() });
        ASSERT_TRUE(eventually([] { return acceptsConnections(kFtpPort); })) << "no FTP server";
    }

    fs::path m_shared { m_bundle.home() / "shared" };
    std::optional<Daemon> m_ftp;
};

TEST_F(RealGVfsMount, MountsWithoutPromptsAndNamesTheVolumeBack)
{
    auto root = (m_gvfsFolder / "ftp:host=127.0.0.1,port=2121,user=anonymous").string();
    EXPECT_EQ(ask("mountVolumeWithMountURL \"ftp://anonymous@127.0.0.1:2121/\"\n"), "\"" + root + "\"");
    EXPECT_TRUE(fs::exists(root + "/a.txt"));
    // Mounted already: the same root again.
    EXPECT_EQ(ask("mountVolumeWithMountURL \"ftp://anonymous@127.0.0.1:2121/\"\n"), "\"" + root + "\"");
    // The folder's name holds commas, which a quoted path carries.
    EXPECT_EQ(ask("getVolumeMountURL " + inQuotes(root + "/a.txt") + "\n"), inQuotes("ftp://anonymous@127.0.0.1:2121/"));

    // Without a user name GVfs offers to log in anonymously, and the helper
    // takes that.
    EXPECT_EQ(ask("mountVolumeWithMountURL \"ftp://127.0.0.1:2121/\"\n"),
        inQuotes((m_gvfsFolder / "ftp:host=127.0.0.1,port=2121").string()));
    EXPECT_EQ(ask("mountVolumeWithMountURL \"ftp://anonymous@127.0.0.1:2122/\"\n"), "<nil>");
}

} // namespace
