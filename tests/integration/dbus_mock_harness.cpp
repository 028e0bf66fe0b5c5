#include "integration/dbus_mock_harness.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace harness {

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, const Environment& environment)
{
    std::vector<char*> argv;
    for (auto const& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        for (auto const& [name, value] : environment)
            setenv(name.c_str(), value.c_str(), 1);
        // Mocks log every call on standard output; the test reads the log
        // over the bus instead.
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
}

ChildProcess::~ChildProcess()
{
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
}

namespace {

const char* kBusConfiguration = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=@BUS@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

GDBusConnection* connectWithRetries(const std::string& address)
{
    auto deadline = std::chrono::steady_clock::now() + 10s;
    for (;;) {
        GDBusConnection* connection = g_dbus_connection_new_for_address_sync(address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        if (connection)
            return connection;
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("the private bus did not start");
        std::this_thread::sleep_for(20ms);
    }
}

} // namespace

PrivateBus::PrivateBus()
{
    char pattern[] = "/tmp/ferrowind-bus-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    m_directory = pattern;
    std::string configuration = kBusConfiguration;
    configuration.replace(configuration.find("@BUS@"), 5, (m_directory / "bus").string());
    std::ofstream(m_directory / "bus.conf") << configuration;
    m_daemon = std::make_unique<ChildProcess>(
        std::vector<std::string> { "/usr/bin/dbus-daemon", "--nofork", "--nopidfile",
            "--config-file=" + (m_directory / "bus.conf").string() },
        Environment {});
    m_connection = connectWithRetries(address());
}

PrivateBus::~PrivateBus()
{
    g_dbus_connection_close_sync(m_connection, nullptr, nullptr);
    g_object_unref(m_connection);
    m_daemon.reset();
    std::error_code ignored;
    fs::remove_all(m_directory, ignored);
}

Variant PrivateBus::call(const std::string& name, const std::string& path, const std::string& interface,
    const std::string& method, GVariant* parameters) const
{
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(m_connection, name.c_str(), path.c_str(), interface.c_str(),
        method.c_str(), parameters, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, &error);
    if (!reply) {
        std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error(method + " failed: " + message);
    }
    return Variant(reply);
}

bool PrivateBus::waitForOwner(const std::string& name, std::chrono::milliseconds limit) const
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    do {
        auto reply = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
            g_variant_new("(s)", name.c_str()));
        gboolean owned = FALSE;
        g_variant_get(reply.get(), "(b)", &owned);
        if (owned)
            return true;
        std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

DBusMock::DBusMock(const PrivateBus& bus, Bus kind, const std::string& name, const std::vector<std::string>& arguments)
{
    // Debian's own interpreter: python3-dbusmock is installed for it.
    std::vector<std::string> command { "/usr/bin/python3", "-m", "dbusmock", kind == Bus::System ? "--system" : "--session" };
    command.insert(command.end(), arguments.begin(), arguments.end());
    auto variable = kind == Bus::System ? "DBUS_SYSTEM_BUS_ADDRESS" : "DBUS_SESSION_BUS_ADDRESS";
    m_process = std::make_unique<ChildProcess>(command, Environment { { variable, bus.address() } });
    if (!bus.waitForOwner(name, 20s))
        throw std::runtime_error("the mock of " + name + " did not start");
}

std::vector<std::string> calledMethods(const PrivateBus& bus, const std::string& name, const std::string& path)
{
    auto reply = bus.call(name, path, kMockInterface, "GetCalls");
    GVariantIter* calls = nullptr;
    g_variant_get(reply.get(), "(a(tsav))", &calls);
    std::vector<std::string> methods;
    guint64 timestamp = 0;
    const gchar* method = nullptr;
    GVariantIter* arguments = nullptr;
    while (g_variant_iter_loop(calls, "(t&sav)", &timestamp, &method, &arguments))
        methods.emplace_back(method);
    g_variant_iter_free(calls);
    return methods;
}

} // namespace harness
