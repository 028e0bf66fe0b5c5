// A WebDAV share that comes back under another mount folder: GVfs names a
// WebDAV mount after the topmost folder its server serves WebDAV in, so the
// same URL mounts at another folder once the server is set up otherwise.
#include "integration/gvfs_session.h"

#include <filesystem>
#include <fstream>

namespace {

using namespace harness;
namespace fs = std::filesystem;

constexpr int kWebDavPort = 8080;
const fs::path kLighttpd = "/usr/sbin/lighttpd";
const std::string kShareURL = "dav://127.0.0.1:8080/dav/";

// Whether a process of that name runs (in the test's own PID namespace).
bool isRunning(const std::string& name)
{
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::string command;
        if (std::getline(std::ifstream(entry.path() / "comm"), command) && command == name)
            return true;
    }
    return false;
}

class MovedWebDavShare : public GVfsSession {
protected:
    void SetUp() override
    {
        startSession({ kLighttpd, "/usr/lib/lighttpd/mod_webdav.so" });
        if (!ready())
            return;
        fs::create_directories(m_served / "dav");
        std::ofstream(m_served / "dav/a.txt") << "hello";
    }

    // `scope`: the server's settings for where WebDAV is served.
    void serve(const std::string& scope)
    {
        m_lighttpd.reset();
        auto path = m_bundle.home() / "lighttpd.conf";
        // GVfs drops the slash that ends a folder's URL, and a redirect to
        // it fails the mount: the server takes both forms.
        std::ofstream(path) << "server.document-root = \"" << m_served.string() << "\"\nserver.port = " << kWebDavPort
                            << "\nserver.bind = \"127.0.0.1\"\nserver.modules = (\"mod_rewrite\", \"mod_webdav\")\n"
                               "url.rewrite-once = (\"^/dav$\" => \"/dav/\")\n"
                            << scope << "\n";
        m_lighttpd.emplace(std::vector<std::string> { kLighttpd, "-D", "-f", path.string() });
        ASSERT_TRUE(eventually([] { return acceptsConnections(kWebDavPort); })) << "no WebDAV server";
    }

    fs::path m_served { m_bundle.home() / "served" };
    std::optional<Daemon> m_lighttpd;
};

TEST_F(MovedWebDavShare, AnswersTheFolderTheShareIsMountedAtNow)
{
    auto mountFolder = m_gvfsFolder / "dav:host=127.0.0.1,port=8080,ssl=false";
    serve("webdav.activate = \"enable\"");
    EXPECT_EQ(ask("mountVolumeWithMountURL " + inQuotes(kShareURL) + "\n"), inQuotes(mountFolder.string()));

    unmountElsewhere(kShareURL);
    // A helper runs for long, and the old mount's daemon has long ended by
    // the time the share comes back; until it ends, nothing shows the
    // helper that the old mount is gone.
    ASSERT_TRUE(eventually([] { return !isRunning("gvfsd-dav"); }));
    serve("$HTTP[\"url\"] =~ \"^/dav($|/)\" { webdav.activate = \"enable\" }");
    auto movedFolder = mountFolder.string() + ",prefix=%2Fdav";
    EXPECT_EQ(ask("mountVolumeWithMountURL " + inQuotes(kShareURL) + "\n"), inQuotes(movedFolder));
    EXPECT_TRUE(fs::exists(movedFolder + "/a.txt"));
}

} // namespace
