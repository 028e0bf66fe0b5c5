#include "integration/gvfs_session.h"
#include "support/loopback.h"

#include <sys/socket.h>
#include <unistd.h>

namespace harness {

namespace fs = std::filesystem;

bool acceptsConnections(int port)
{
    int descriptor = testing_support::connectToLoopback(static_cast<std::uint16_t>(port));
    if (descriptor >= 0)
        close(descriptor);
    return descriptor >= 0;
}

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }

std::optional<Daemon> startSessionBus(const fs::path& runtime, const Environment& environment)
{
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    auto bus = "unix:path=" + (runtime / "bus").string();
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
    std::optional<Daemon> daemon(std::in_place, std::vector<std::string> { "/usr/bin/dbus-daemon", "--session", "--nofork", "--address=" + bus }, environment);
    if (!eventually([&] { return fs::exists(runtime / "bus"); }))
        return std::nullopt;
    return daemon;
}

void GVfsSession::startSession(const std::vector<fs::path>& programs)
{
    // The daemons GVfs starts outlive any cleanup of ours; only a PID
    // namespace of the test's own takes them down with it.
    if (getpid() != 1)
        GTEST_SKIP() << "needs a PID namespace of its own";
    for (const auto& program : std::vector<fs::path> { "/usr/libexec/gvfsd", "/usr/libexec/gvfsd-fuse", "/dev/fuse" }) {
        if (!fs::exists(program))
            GTEST_SKIP() << program << " is not installed";
    }
    for (const auto& program : programs) {
        if (!fs::exists(program))
            GTEST_SKIP() << program << " is not installed";
    }

    m_gvfsFolder = m_bundle.home() / "runtime/gvfs";
    m_bus = startSessionBus(m_bundle.home() / "runtime");
    ASSERT_TRUE(m_bus) << "no session bus";
    start();
}

std::optional<std::string> GVfsSession::ask(const std::string& line) { return m_client.ask(line, 40s); }

void GVfsSession::unmountElsewhere(const std::string& url)
{
    ASSERT_EQ(std::system(("/usr/bin/gio mount -u '" + url + "'").c_str()), 0) << url;
}

} // namespace harness
