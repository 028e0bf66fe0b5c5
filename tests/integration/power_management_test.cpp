// Sleep prevention and system events against mock desktop services on
// private buses, driven through the real helper.
#include "integration/dbus_mock_harness.h"
#include "integration/helper_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace {

using namespace harness;

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";
constexpr const char* kSessionManager = "org.gnome.SessionManager";
constexpr const char* kSessionManagerPath = "/org/gnome/SessionManager";
constexpr const char* kPowerManagement = "org.freedesktop.PowerManagement";
constexpr const char* kPowerManagementPath = "/org/freedesktop/PowerManagement/Inhibit";
constexpr const char* kPowerManagementInterface = "org.freedesktop.PowerManagement.Inhibit";
constexpr const char* kNoBus = "unix:path=/nonexistent/ferrowind-no-bus";

long countOf(const std::vector<std::string>& methods, const std::string& method)
{
    return std::ranges::count(methods, method);
}

class PowerOverTheBus : public testing::Test, protected HelperSession {
protected:
    void startLogind() { m_logind.emplace(m_systemBus, DBusMock::Bus::System, kLogind, std::vector<std::string> { "--template", "logind" }); }

    void startSessionManager()
    {
        m_sessionManager.emplace(m_sessionBus, DBusMock::Bus::Session, kSessionManager,
            std::vector<std::string> { kSessionManager, kSessionManagerPath, kSessionManager });
        addMethod(m_sessionBus, kSessionManager, kSessionManagerPath, kSessionManager, "Inhibit", "susu", "u", "ret = 42");
        addMethod(m_sessionBus, kSessionManager, kSessionManagerPath, kSessionManager, "Uninhibit", "u", "", "");
    }

    void startPowerManagement()
    {
        m_powerManagement.emplace(m_sessionBus, DBusMock::Bus::Session, kPowerManagement,
            std::vector<std::string> { kPowerManagement, kPowerManagementPath, kPowerManagementInterface });
        addMethod(m_sessionBus, kPowerManagement, kPowerManagementPath, kPowerManagementInterface, "Inhibit", "ss", "u", "ret = 9");
        addMethod(m_sessionBus, kPowerManagement, kPowerManagementPath, kPowerManagementInterface, "UnInhibit", "u", "", "");
    }

    static void addMethod(const PrivateBus& bus, const char* name, const char* path, const char* interface,
        const char* method, const char* in, const char* out, const std::string& code)
    {
        bus.call(name, path, kMockInterface, "AddMethod", g_variant_new("(sssss)", interface, method, in, out, code.c_str()));
    }

    // Connects to a helper that reaches the buses through `system` and `session`.
    Client startHelper(const std::string& system, const std::string& session)
    {
        start(std::nullopt, { { "DBUS_SYSTEM_BUS_ADDRESS", system }, { "DBUS_SESSION_BUS_ADDRESS", session } });
        return std::move(m_client);
    }
    Client startHelper() { return startHelper(m_systemBus.address(), m_sessionBus.address()); }

    static std::optional<std::string> ask(Client& client, const std::string& command)
    {
        client.send(command + "\n");
        return client.readLine(15s);
    }

    std::vector<std::string> logindInhibitors() const { return harness::logindInhibitors(m_systemBus); }

    // The mock drops an inhibitor when it sees the descriptor close, a
    // moment after the helper has answered.
    bool logindInhibitorsBecomeEmpty() const
    {
        return testing_support::eventually([&] { return logindInhibitors().empty(); }, 2s, 10ms);
    }

    // The printed arguments of each call of `method` the mock logged.
    static std::vector<std::string> callArguments(const PrivateBus& bus, const char* name, const char* path, const char* method)
    {
        auto reply = bus.call(name, path, kMockInterface, "GetMethodCalls", g_variant_new("(s)", method));
        GVariantIter* calls = nullptr;
        g_variant_get(reply.get(), "(a(tav))", &calls);
        std::vector<std::string> printed;
        guint64 timestamp = 0;
        GVariant* arguments = nullptr;
        while (g_variant_iter_loop(calls, "(t@av)", &timestamp, &arguments)) {
            gchar* text = g_variant_print(arguments, FALSE);
            printed.emplace_back(text);
            g_free(text);
        }
        g_variant_iter_free(calls);
        return printed;
    }

    // Sleep prevented twice and allowed once reach the session service `name`
    // as one inhibition and its release, called with these arguments.
    void expectOneInhibitionOn(Client& client, const char* name, const char* path, const std::string& inhibited,
        const char* release, const std::string& released)
    {
        EXPECT_EQ(ask(client, "preventSystemSleep"), "1");
        EXPECT_EQ(ask(client, "preventSystemSleep"), "1");
        EXPECT_EQ(callArguments(m_sessionBus, name, path, "Inhibit"), std::vector<std::string> { inhibited });
        EXPECT_TRUE(logindInhibitors().empty());
        EXPECT_EQ(ask(client, "allowSystemSleep"), "1");
        EXPECT_EQ(callArguments(m_sessionBus, name, path, release), std::vector<std::string> { released });
    }

    PrivateBus m_systemBus;
    PrivateBus m_sessionBus;
    std::optional<DBusMock> m_logind;
    std::optional<DBusMock> m_sessionManager;
    std::optional<DBusMock> m_powerManagement;
};

TEST_F(PowerOverTheBus, LogindHoldsOneIdleInhibitorUntilSleepIsAllowed)
{
    startLogind();
    auto client = startHelper();
    const std::vector<std::string> ours { "idle|Ferrowind Helper|Ferrowind is still downloading|block" };

    EXPECT_EQ(ask(client, "preventSystemSleep"), "1");
    EXPECT_EQ(ask(client, "preventSystemSleep"), "1");
    EXPECT_EQ(logindInhibitors(), ours);

    EXPECT_EQ(ask(client, "allowSystemSleep"), "1");
    EXPECT_TRUE(logindInhibitorsBecomeEmpty());
    EXPECT_EQ(ask(client, "allowSystemSleep"), "1");

    EXPECT_EQ(ask(client, "preventSystemSleep"), "1");
    EXPECT_EQ(logindInhibitors(), ours);
    EXPECT_EQ(countOf(calledMethods(m_systemBus, kLogind, kLogindPath), "Inhibit"), 2);
}

TEST_F(PowerOverTheBus, SessionManagerIsPreferredAndReleasedWhereTaken)
{
    startLogind();
    startSessionManager();
    startPowerManagement();
    auto client = startHelper();

    expectOneInhibitionOn(client, kSessionManager, kSessionManagerPath,
        "[<'Ferrowind Helper'>, <uint32 0>, <'Ferrowind is still downloading'>, <uint32 4>]", "Uninhibit", "[<uint32 42>]");
    EXPECT_TRUE(calledMethods(m_sessionBus, kPowerManagement, kPowerManagementPath).empty());
    EXPECT_EQ(ask(client, "allowSystemSleep"), "1");
    EXPECT_EQ(calledMethods(m_sessionBus, kSessionManager, kSessionManagerPath).size(), 2u);
}

TEST_F(PowerOverTheBus, PowerManagementServesWithoutSessionManager)
{
    startLogind();
    startPowerManagement();
    auto client = startHelper();

    expectOneInhibitionOn(client, kPowerManagement, kPowerManagementPath,
        "[<'Ferrowind Helper'>, <'Ferrowind is still downloading'>]", "UnInhibit", "[<uint32 9>]");
}

// Some desktop services trip over a client that vanishes while it holds an
// inhibition; an orderly end hands it back first.
TEST_F(PowerOverTheBus, QuitGivesTheInhibitionBack)
{
    startSessionManager();
    auto client = startHelper();

    EXPECT_EQ(ask(client, "preventSystemSleep"), "1");
    EXPECT_EQ(ask(client, "quit"), "1");
    EXPECT_EQ(m_helper->waitForExit(10s), 0);
    EXPECT_EQ(callArguments(m_sessionBus, kSessionManager, kSessionManagerPath, "Uninhibit"),
        std::vector<std::string> { "[<uint32 42>]" });
}

TEST_F(PowerOverTheBus, HungServiceIsGivenUpWithinTheBound)
{
    startLogind();
    startSessionManager();
    addMethod(m_sessionBus, kSessionManager, kSessionManagerPath, kSessionManager, "Inhibit", "susu", "u",
        "import time\ntime.sleep(30)\nret = 1");
    auto client = startHelper();

    auto started = Clock::now();
    EXPECT_EQ(ask(client, "preventSystemSleep"), "1");
    EXPECT_LT(Clock::now() - started, 10s);
    EXPECT_EQ(logindInhibitors().size(), 1u);
    EXPECT_EQ(ask(client, "allowSystemSleep"), "1");
    EXPECT_TRUE(logindInhibitorsBecomeEmpty());
}

TEST_F(PowerOverTheBus, SystemEventsBecomeLogindRequests)
{
    startLogind();
    auto client = startHelper();

    EXPECT_EQ(ask(client, "sleepSystem"), "0");
    EXPECT_EQ(ask(client, "shutdownSystem"), "0");
    EXPECT_EQ(ask(client, "SendAppleEventToSystemProcess 1936483696"), "0");
    EXPECT_EQ(ask(client, "SendAppleEventToSystemProcess 1919251316"), "0");
    EXPECT_EQ(calledMethods(m_systemBus, kLogind, kLogindPath),
        (std::vector<std::string> { "Suspend", "PowerOff", "Suspend", "Reboot" }));
    for (auto method : { "Suspend", "PowerOff", "Reboot" }) {
        for (auto const& arguments : callArguments(m_systemBus, kLogind, kLogindPath, method))
            EXPECT_EQ(arguments, "[<false>]") << method;
    }

    // An event the system has no request for is not sent at all.
    EXPECT_EQ(ask(client, "SendAppleEventToSystemProcess 1634039412"), "1");
    EXPECT_EQ(calledMethods(m_systemBus, kLogind, kLogindPath).size(), 4u);

    // A refusal (polkit, a blocking inhibitor) is a failure.
    addMethod(m_systemBus, kLogind, kLogindPath, kLogindManager, "Suspend", "b", "",
        "raise dbus.exceptions.DBusException('denied', name='org.freedesktop.DBus.Error.AccessDenied')");
    EXPECT_EQ(ask(client, "sleepSystem"), "1");
    EXPECT_EQ(ask(client, "SendAppleEventToSystemProcess 1936483696"), "1");
}

// GNOME's session manager turns a suspend inhibit into a logind sleep lock;
// the mock logind here refuses to suspend while the session manager holds
// one, as logind would for a lock it honours.
TEST_F(PowerOverTheBus, OwnAssertionDoesNotBlockRequestedSleep)
{
    startLogind();
    startSessionManager();
    addMethod(m_systemBus, kLogind, kLogindPath, kLogindManager, "Suspend", "b", "",
        "import dbus\n"
        "calls = dbus.bus.BusConnection('"
            + m_sessionBus.address()
            + "').call_blocking('org.gnome.SessionManager', '/org/gnome/SessionManager', "
              "'org.freedesktop.DBus.Mock', 'GetCalls', '', [])\n"
              "names = [str(call[1]) for call in calls]\n"
              "if names.count('Inhibit') > names.count('Uninhibit'):\n"
              "    raise dbus.exceptions.DBusException('inhibited', name='org.freedesktop.login1.OperationInhibited')\n");
    auto client = startHelper();

    EXPECT_EQ(ask(client, "preventSystemSleep"), "1");
    EXPECT_EQ(ask(client, "sleepSystem"), "0");
    // The assertion is taken again once the request is through.
    EXPECT_EQ(calledMethods(m_sessionBus, kSessionManager, kSessionManagerPath),
        (std::vector<std::string> { "Inhibit", "Uninhibit", "Inhibit" }));
    EXPECT_EQ(ask(client, "preventSystemSleep"), "1");
    EXPECT_EQ(ask(client, "allowSystemSleep"), "1");
    EXPECT_EQ(countOf(calledMethods(m_sessionBus, kSessionManager, kSessionManagerPath), "Uninhibit"), 2);
}

// A desktop without logind or any inhibiting service: buses, but nobody to ask.
TEST_F(PowerOverTheBus, WithoutServicesNothingIsHeldOrSent)
{
    auto client = startHelper();

    EXPECT_EQ(ask(client, "preventSystemSleep"), "0");
    EXPECT_EQ(ask(client, "allowSystemSleep"), "1");
    EXPECT_EQ(ask(client, "sleepSystem"), "1");
    EXPECT_EQ(ask(client, "SendAppleEventToSystemProcess 1919251316"), "1");
}

TEST_F(PowerOverTheBus, WithoutAnyBusRequestsFailAndTheHelperKeepsServing)
{
    auto client = startHelper(kNoBus, kNoBus);

    EXPECT_EQ(ask(client, "preventSystemSleep"), "0");
    EXPECT_EQ(ask(client, "sleepSystem"), "1");
    EXPECT_EQ(ask(client, "shutdownSystem"), "1");
    EXPECT_EQ(ask(client, "SendAppleEventToSystemProcess 1936483696"), "1");
    EXPECT_EQ(ask(client, "allowSystemSleep"), "1");
    EXPECT_EQ(ask(client, "version"), "\"" + m_bundle.shortVersion() + "\"");
}

} // namespace
