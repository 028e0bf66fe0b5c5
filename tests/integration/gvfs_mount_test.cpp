// One real mount through GVfs: an anonymous FTP server on loopback, a private
// session bus on which GVfs starts, and the helper mounting and naming it.
#include "integration/helper_harness.h"
#include "platform/linux_platform.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace {

using namespace harness;
namespace fs = std::filesystem;

constexpr int kHelperPort = 9483;
constexpr int kFtpPort = 2121;

// A program the test started, ended with it.
class Daemon {
public:
    explicit Daemon(std::vector<std::string> arguments)
    {
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
    }
    ~Daemon()
    {
        if (m_pid > 0 && kill(m_pid, SIGTERM) == 0)
            waitpid(m_pid, nullptr, 0);
    }
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

private:
    pid_t m_pid { -1 };
};

bool waitFor(const std::function<bool()>& condition, Clock::duration limit = 10s)
{
    for (auto deadline = Clock::now() + limit; Clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
        if (condition())
            return true;
    }
    return false;
}

bool acceptsConnections(int port)
{
    int descriptor = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool connected = connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(descriptor);
    return connected;
}

bool hasFtpServer() { return std::system("/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null") == 0; }

class RealGVfsMount : public testing::Test {
protected:
    void SetUp() override
    {
        // The daemons GVfs starts outlive any cleanup of ours; only a PID
        // namespace of the test's own takes them down with it.
        if (getpid() != 1)
            GTEST_SKIP() << "needs a PID namespace of its own";
        if (!fs::exists("/usr/libexec/gvfsd") || !fs::exists("/usr/libexec/gvfsd-fuse") || !fs::exists("/dev/fuse")
            || !hasFtpServer())
            GTEST_SKIP() << "GVfs with FUSE, or pyftpdlib, is not installed";

        auto runtime = m_bundle.home() / "runtime";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        fs::create_directories(m_shared);
        std::ofstream(m_shared / "a.txt") << "hello";
        auto bus = "unix:path=" + (runtime / "bus").string();
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
        m_gvfsFolder = runtime / "gvfs";

        m_bus.emplace(std::vector<std::string> { "/usr/bin/dbus-daemon", "--session", "--nofork", "--address=" + bus });
        m_ftp.emplace(std::vector<std::string> { "/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p",
            std::to_string(kFtpPort), "-d", m_shared.string() });
        ASSERT_TRUE(waitFor([&] { return fs::exists(runtime / "bus"); })) << "no session bus";
        ASSERT_TRUE(waitFor([] { return acceptsConnections(kFtpPort); })) << "no FTP server";

        m_helper.emplace(m_bundle);
        auto client = Client::connectTo(kHelperPort);
        ASSERT_TRUE(client) << "the helper did not start listening";
        client->readLine();
        m_client = std::move(*client);
    }

    std::optional<std::string> ask(const std::string& line)
    {
        m_client.send(line);
        return m_client.readLine(40s);
    }

    HelperBundleCopy m_bundle;
    fs::path m_shared { m_bundle.home() / "shared" };
    fs::path m_gvfsFolder;
    std::optional<Daemon> m_bus;
    std::optional<Daemon> m_ftp;
    std::optional<HelperProcess> m_helper;
    Client m_client;
};

TEST_F(RealGVfsMount, MountsWithoutPromptsAndNamesTheVolumeBack)
{
    auto root = (m_gvfsFolder / "ftp:host=127.0.0.1,port=2121,user=anonymous").string();
    EXPECT_EQ(ask("mountVolumeWithMountURL \"ftp://anonymous@127.0.0.1:2121/\"\n"), "\"" + root + "\"");
    EXPECT_TRUE(fs::exists(root + "/a.txt"));
    // Mounted already: the same root again.
    EXPECT_EQ(ask("mountVolumeWithMountURL \"ftp://anonymous@127.0.0.1:2121/\"\n"), "\"" + root + "\"");
    // The folder's name holds commas, which the command line always splits
    // at, so no client can send this path: the service is asked directly.
    EXPECT_EQ(platform::makeVolumeURLs()->urlOfVolumeHolding(root + "/a.txt"), "ftp://anonymous@127.0.0.1:2121/");

    // Without a user name GVfs would ask for one: nobody answers, no mount.
    EXPECT_EQ(ask("mountVolumeWithMountURL \"ftp://127.0.0.1:2121/\"\n"), "<nil>");
    EXPECT_EQ(ask("mountVolumeWithMountURL \"ftp://anonymous@127.0.0.1:2122/\"\n"), "<nil>");
}

} // namespace
