#include "integration/dbus_mock_harness.h"

#include <csignal>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

using namespace std::chrono_literals;

namespace harness {

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

// The mocks log every call on standard output; the test reads that log over
// the bus instead.
const testing_support::ChildOptions kQuietServer { .outputs = { { STDOUT_FILENO, "/dev/null" } }, .endSignal = SIGTERM };

ChildProcess startDaemon(const testing_support::TemporaryDirectory& directory)
{
    std::string configuration = kBusConfiguration;
    configuration.replace(configuration.find("@BUS@"), 5, directory / "bus");
    std::ofstream(directory / "bus.conf") << configuration;
    return ChildProcess("/usr/bin/dbus-daemon", { "--nofork", "--nopidfile", "--config-file=" + (directory / "bus.conf") },
        kQuietServer);
}

GDBusConnection* connectWithRetries(const std::string& address)
{
    GDBusConnection* connection = nullptr;
    testing_support::eventually([&] {
        connection = g_dbus_connection_new_for_address_sync(address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        return connection != nullptr;
    },
        10s, 20ms);
    if (!connection)
        throw std::runtime_error("the private bus did not start");
    return connection;
}

} // namespace

void ConnectionRelease::operator()(GDBusConnection* connection) const
{
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
}

PrivateBus::PrivateBus()
    : m_daemon(startDaemon(m_directory))
    , m_connection(connectWithRetries(address()))
{
}

Variant PrivateBus::call(const std::string& name, const std::string& path, const std::string& interface,
    const std::string& method, GVariant* parameters) const
{
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(m_connection.get(), name.c_str(), path.c_str(), interface.c_str(),
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
    return testing_support::eventually([&] {
        auto reply = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
            g_variant_new("(s)", name.c_str()));
        gboolean owned = FALSE;
        g_variant_get(reply.get(), "(b)", &owned);
        return owned != FALSE;
    },
        limit, 20ms);
}

namespace {

ChildProcess startMock(const PrivateBus& bus, DBusMock::Bus kind, const std::vector<std::string>& arguments)
{
    std::vector<std::string> command { "-m", "dbusmock", kind == DBusMock::Bus::System ? "--system" : "--session" };
    command.insert(command.end(), arguments.begin(), arguments.end());
    auto variable = kind == DBusMock::Bus::System ? "DBUS_SYSTEM_BUS_ADDRESS" : "DBUS_SESSION_BUS_ADDRESS";
    auto options = kQuietServer;
    options.environment = { { variable, bus.address() } };
    // Debian's own interpreter: python3-dbusmock is installed for it.
    return ChildProcess("/usr/bin/python3", command, options);
}

} // namespace

DBusMock::DBusMock(const PrivateBus& bus, Bus kind, const std::string& name, const std::vector<std::string>& arguments)
    : m_process(startMock(bus, kind, arguments))
{
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

std::vector<std::string> logindInhibitors(const PrivateBus& systemBus)
{
    auto reply = systemBus.call("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "ListInhibitors");
    GVariantIter* entries = nullptr;
    g_variant_get(reply.get(), "(a(ssssuu))", &entries);
    std::vector<std::string> found;
    const gchar *what, *who, *why, *mode;
    guint32 uid, pid;
    while (g_variant_iter_loop(entries, "(&s&s&s&suu)", &what, &who, &why, &mode, &uid, &pid))
        found.push_back(std::string(what) + "|" + who + "|" + why + "|" + mode);
    g_variant_iter_free(entries);
    return found;
}

} // namespace harness
