// The helper on a real systemd machine, run by a user logged in through
// pam_systemd: logind takes and drops its sleep inhibitor, refuses what the
// user may not do, and journald files every log line under the helper's
// name, in order, those sent as a signal ends the helper included.
#include "support/eventually.h"
#include "support/systemd_container.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

namespace {

using namespace std::chrono_literals;
using testing_support::SystemdContainer;

const std::string kHelper = std::string("'") + HELPER_BUNDLE_DIR + "/Contents/MacOS/Ferrowind Helper'";
const std::string kAsk = FERROWIND_ASK_PROGRAM;

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

class OnASystemdMachine : public testing::Test {
protected:
    void SetUp() override
    {
        std::string whyNot;
        m_machine = SystemdContainer::boot(whyNot);
        if (!m_machine)
            GTEST_SKIP() << whyNot;
        RecordProperty("boot_milliseconds", std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(m_machine->bootTime()).count()));
    }

    // Starts a helper as the user, as the system service `unit`, and waits
    // until it answers; its process ID, as the machine numbers them.
    pid_t startHelper(const std::string& unit)
    {
        EXPECT_TRUE(m_machine->startAsUser(unit, kHelper));
        EXPECT_TRUE(testing_support::eventually([&] { return ask("version") == "\"" FERROWIND_VERSION "\""; }, 10s, 50ms))
            << m_machine->runAsRoot("journalctl --no-pager -t 'Ferrowind Helper'").output;
        return m_machine->mainPidOf(unit).value_or(-1);
    }

    std::string ask(const std::string& command) const
    {
        const auto answered = m_machine->runAsUser(kAsk + " " + command);
        return answered.status == 0 && !answered.output.empty() ? answered.output.substr(0, answered.output.find('\n')) : "(no answer)";
    }

    // What logind lists for the helper, one line each.
    std::vector<std::string> helperInhibitors() const
    {
        std::vector<std::string> ours;
        for (const auto& line : linesOf(m_machine->runAsRoot("systemd-inhibit --list --no-legend --no-pager").output)) {
            if (line.find("Ferrowind Helper") != std::string::npos)
                ours.push_back(line);
        }
        return ours;
    }

    bool helperInhibitorsBecomeNone() const
    {
        return testing_support::eventually([&] { return helperInhibitors().empty(); }, 5s, 50ms);
    }

    std::unique_ptr<SystemdContainer> m_machine;
};

TEST_F(OnASystemdMachine, LogindHoldsOneInhibitorUntilTheHelperLetsGoOrEnds)
{
    struct Release {
        const char* how;
        std::function<void(const std::string& unit)> release;
    };
    const Release releases[] = {
        { "allowSystemSleep", [this](auto&) { EXPECT_EQ(ask("allowSystemSleep"), "1"); } },
        { "quit", [this](auto&) { ask("quit"); } },
        { "SIGKILL", [this](auto& unit) { m_machine->runAsRoot("systemctl kill --signal=KILL " + unit); } },
    };
    int started = 0;
    for (const auto& release : releases) {
        const std::string unit = "ferrowind-helper-" + std::to_string(++started);
        startHelper(unit);
        EXPECT_EQ(ask("preventSystemSleep"), "1") << release.how;
        EXPECT_EQ(ask("preventSystemSleep"), "1") << release.how;
        const auto held = helperInhibitors();
        ASSERT_EQ(held.size(), 1u) << release.how << ": " << m_machine->runAsRoot("systemd-inhibit --list").output;
        for (const char* part : { "idle", "Ferrowind is still downloading", "block", m_machine->userName().c_str() })
            EXPECT_NE(held.front().find(part), std::string::npos) << release.how << ": " << held.front();
        release.release(unit);
        EXPECT_TRUE(helperInhibitorsBecomeNone()) << release.how;
        // Gone before the next starts, so that the port is free for it.
        m_machine->runAsRoot("systemctl stop " + unit);
    }

    // Last, in case logind did as asked after all: a user in a session
    // without a seat may neither suspend nor power off the machine.
    startHelper("ferrowind-helper-refused");
    EXPECT_EQ(ask("sleepSystem"), "1");
    EXPECT_EQ(ask("shutdownSystem"), "1");
    const auto state = m_machine->runAsRoot("systemctl is-system-running").output;
    EXPECT_TRUE(state.starts_with("running") || state.starts_with("degraded")) << state;
}

// Sends `count` commands on one connection, each as soon as the one before
// is answered, so that their log lines wait to be sent together; then
// `quit`, or else `ending` as a signal to the helper, at once, while the
// lines of the last commands still wait. Prints how many were answered.
constexpr const char* kCommandSender = R"(count=$1 ending=$2 helper=$3
exec 3<>/dev/tcp/127.0.0.1/9483
read -r welcome <&3
replies=0
while [ $replies -lt "$count" ]; do
  echo version >&3
  read -r reply <&3 || break
  replies=$((replies + 1))
done
if [ "$ending" = quit ]; then
  echo quit >&3
  read -r reply <&3
else
  kill -s "$ending" "$helper"
fi
echo $replies
)";

TEST_F(OnASystemdMachine, JournalListsBothLinesOfEveryCommandInOrder)
{
    constexpr int kCommands = 300;
    const char* endings[] = { "quit", "TERM", "ABRT" };
    const std::string sender = "/home/" + m_machine->userName() + "/send-commands.sh";
    m_machine->putFile(sender, kCommandSender);
    const std::vector<std::string> versionLines { "Command: version, Parameters: ()", "Command result: \"" FERROWIND_VERSION "\"" };
    for (const std::string ending : endings) {
        const std::string unit = "ferrowind-helper-" + ending;
        const pid_t helper = startHelper(unit);
        const auto sent = m_machine->runAsUser("bash " + sender + " " + std::to_string(kCommands) + " " + ending + " " + std::to_string(helper));
        // The version asked at start, and those sent here.
        const int replies = std::atoi(sent.output.c_str()) + 1;
        ASSERT_EQ(replies, kCommands + 1) << ending << ": " << sent.output;

        // Every command has both lines there, in order.
        std::vector<std::string> expected;
        for (int i = 0; i < replies; ++i)
            expected.insert(expected.end(), versionLines.begin(), versionLines.end());
        if (ending == "quit")
            expected.insert(expected.end(), { "Command: quit, Parameters: ()", "Command result: 1" });
        std::vector<std::string> logged;
        testing_support::eventually(
            [&] {
                logged = linesOf(m_machine->runAsRoot("journalctl --no-pager --output=cat -t 'Ferrowind Helper' _PID=" + std::to_string(helper)).output);
                std::erase_if(logged, [](const auto& line) { return !line.starts_with("Command"); });
                return logged.size() >= expected.size();
            },
            5s, 100ms);
        EXPECT_EQ(logged, expected) << ending;
        // Gone before the next starts, so that the port is free for it.
        m_machine->runAsRoot("systemctl stop " + unit);
    }
}

// On a systemd desktop every Flatpak application runs in a scope named after
// it, which the kernel reports for each socket: a scope's name decides
// whatever the client does to hide its connection. A client in the user's
// own session is found holding its socket.
TEST_F(OnASystemdMachine, AScopeNamedForASandboxSaysWhoConnects)
{
    startHelper("ferrowind-helper-scopes");
    struct Row {
        const char* scope;
        const char* how;
        bool served;
    };
    for (auto row : {
             Row { "app-flatpak-org.example.Other-7", "plain", false },
             Row { "app-flatpak-org.example.Other-8", "in-flight", false },
             Row { "app-flatpak-org.example.Other-9", "own-table", false },
             Row { "app-flatpak-org.example.Other-10", "leader-exits", false },
             Row { "app-flatpak-com.Calderine.Ferrowind3-11", "plain", true },
             Row { "app-flatpak-com.Calderine.Ferrowind3-12", "own-table", true },
             Row { nullptr, "plain", true },
         }) {
        const std::string client = std::string(SANDBOX_CLIENT_PROGRAM) + " " + row.how + " 9483 \"$XDG_RUNTIME_DIR/reply\"; cat \"$XDG_RUNTIME_DIR/reply\"";
        const auto inScope = row.scope ? "systemd-run --user --quiet --scope --unit=" + std::string(row.scope) + " -- sh -c '" + client + "'" : client;
        const auto reply = m_machine->runAsUser("rm -f \"$XDG_RUNTIME_DIR/reply\"; " + inScope).output;
        SCOPED_TRACE(std::string(row.scope ? row.scope : "session") + " " + row.how);
        EXPECT_EQ(reply.starts_with("Ferrowind Helper/") && reply.ends_with("\"" FERROWIND_VERSION "\"\n"), row.served) << reply;
    }
    EXPECT_EQ(ask("version"), "\"" FERROWIND_VERSION "\"");
}

// A sandbox's instance connects and hands its socket to a process outside
// any sandbox, then ends; systemd removes its scope. The socket's group can
// no longer be named, and what holds the socket now says nothing of who
// made it. The helper is held still meanwhile, as a flood would hold it.
TEST_F(OnASystemdMachine, AConnectionMadeInAScopeThatHasGoneIsRefused)
{
    const pid_t helper = startHelper("ferrowind-helper-gone-scope");
    const std::string client = SANDBOX_CLIENT_PROGRAM;
    const std::string scope = "app-flatpak-org.example.Other-13";
    const auto relayed = m_machine->runAsUser("reply=\"$XDG_RUNTIME_DIR/reply\"; rm -f \"$reply\"*; kill -STOP " + std::to_string(helper) + "\n"
                                      + client + " relay-in 9483 \"$reply\" &\n"
                                                 "while [ ! -S \"$reply.sock\" ]; do sleep 0.05; done\n"
                                                 "systemd-run --user --quiet --scope --unit="
                                      + scope + " -- " + client + " relay-out 9483 \"$reply\"\n"
                                                                  "while [ -n \"$(find /sys/fs/cgroup -name "
                                      + scope + ".scope)\" ]; do sleep 0.05; done\n"
                                                "kill -CONT "
                                      + std::to_string(helper) + "; touch \"$reply.go\"; wait; cat \"$reply\"")
                             .output;
    EXPECT_EQ(relayed, "");
    EXPECT_EQ(ask("version"), "\"" FERROWIND_VERSION "\"");
}

} // namespace
