#include "soak/soak_clients.h"

#include "integration/dbus_mock_harness.h"
#include "support/eventually.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <thread>

namespace soak {

namespace {

using harness::Client;

constexpr int kPort = harness::kPort;
// What a download manager does between two requests.
constexpr int kLeastPauseMs = 2;
constexpr int kMostPauseMs = 30;
// A mount that has just resumed may be answered as silent a moment longer.
constexpr auto kResumeGrace = 1s;
constexpr auto kBetweenUpdateChecks = 10s;

std::string quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

void pause(std::mt19937& random)
{
    std::uniform_int_distribution<int> milliseconds(kLeastPauseMs, kMostPauseMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds(random)));
}

struct Question {
    std::string kind;
    std::string line;
    std::string expected;
    std::optional<std::string> alsoRight {};
};

Question aboutHeldFile(const Scene& scene)
{
    const auto asked = "fileBusy " + quoted(scene.heldFile);
    switch (scene.truth.heldFile) {
    case Holding::open:
        return { "fileBusy, held open", asked, "1" };
    case Holding::mapped:
        return { "fileBusy, mapped", asked, "1" };
    case Holding::none:
        break;
    }
    return { "fileBusy, no longer held", asked, "0" };
}

// Nobody holds the free file: where the mount is silent it may be answered
// free from what the kernel still knows, or busy as what cannot be shown to
// be free. The held one is busy whether the mount answers or not.
Question aboutFuseFile(const Scene& scene, bool held)
{
    if (held)
        return { "fileBusy, held on FUSE", "fileBusy " + quoted(scene.heldFuseFile), "1" };
    const auto asked = "fileBusy " + quoted(scene.fuseFile);
    if (scene.truth.mountSilent)
        return { "fileBusy, free on silent FUSE", asked, "1", "0" };
    if (Clock::now() - scene.truth.mountWoke < kResumeGrace)
        return { "fileBusy, free on resuming FUSE", asked, "0", "1" };
    return { "fileBusy, free on FUSE", asked, "0" };
}

// Everything a download manager asks, as it would be answered now.
std::vector<Question> questions(const Scene& scene)
{
    const Truth& truth = scene.truth;
    return {
        { "fileBusy, free", "fileBusy " + quoted(scene.freeFile), "0" },
        aboutHeldFile(scene),
        aboutFuseFile(scene, false),
        aboutFuseFile(scene, true),
        { "getVolumeMountURL, local", "getVolumeMountURL " + quoted(scene.localFolder), "<nil>" },
        { "getVolumeMountURL, sftp", "getVolumeMountURL " + quoted(scene.networkFile), truth.networkVolumeURL },
        { "detectVLCAvailable", "detectVLCAvailable", truth.playerInstalled ? "1" : "0" },
        { "version", "version", "\"" + truth.version + "\"" },
    };
}

// How often each of those is asked: whether files are busy most.
std::discrete_distribution<std::size_t> questionChoice() { return { 2, 3, 1, 1, 1, 1, 1, 2 }; }

// The command with a token of its own as a last parameter, which no command
// reads: its log lines then name it.
std::string withToken(const std::string& line, long token)
{
    const bool hasParameters = line.find(' ') != std::string::npos;
    return line + (hasParameters ? ", " : " ") + std::to_string(token) + "\n";
}

} // namespace

Client* Connection::greeted()
{
    if (m_client && m_restartsSeen == m_scene.truth.restarts)
        return &*m_client;
    m_client.reset();
    // The kernel's part: a SYN that found the helper's queue full waits for
    // TCP to send it again, a second and more. Only what follows is the
    // helper's.
    const auto connecting = Clock::now();
    auto client = Client::connectTo(kPort, kPatience);
    const auto started = Clock::now();
    if (client)
        m_scene.tally.answered("connect (the kernel's, unbounded)", started - connecting);
    const auto welcome = client ? client->readLine(kPatience) : std::nullopt;
    const auto took = Clock::now() - started;
    const auto expected = "Ferrowind Helper/" + m_scene.truth.version + " - ";
    if (!welcome || !welcome->starts_with(expected)) {
        m_scene.tally.wrong("welcome: " + shown(welcome) + ", expected one starting " + expected);
        return nullptr;
    }
    m_scene.tally.answered("welcome", took);
    if (took > kReplyBound)
        m_scene.tally.late("welcome", took);
    m_client = std::move(client);
    m_restartsSeen = m_scene.truth.restarts;
    return &*m_client;
}

std::optional<std::string> Connection::ask(const std::string& kind, const std::string& line, const std::string& expected,
    const std::optional<std::string>& alsoRight)
{
    Client* client = greeted();
    if (!client)
        return std::nullopt;
    const auto started = Clock::now();
    std::optional<std::string> reply;
    try {
        client->send(line);
        reply = client->readLine(kPatience);
    } catch (const std::exception&) {
    }
    const auto took = Clock::now() - started;
    if (!reply) {
        m_scene.tally.wrong(kind + ": no answer to " + line);
        m_client.reset();
        return std::nullopt;
    }
    m_scene.tally.answered(kind, took);
    if (took > kReplyBound)
        m_scene.tally.late(kind, took);
    if (*reply == expected || reply == alsoRight)
        return reply;
    if (kind.find("FUSE") != std::string::npos && m_scene.fuseDaemonEnded && m_scene.fuseDaemonEnded())
        m_scene.tally.note(kFuseDaemonEndedAnswers);
    else
        m_scene.tally.wrong(kind + ": " + line.substr(0, line.size() - 1) + " answered " + *reply + ", expected " + expected
            + (m_scene.standIns ? " (" + m_scene.standIns() + ")" : ""));
    return reply;
}

void runFriendlyClient(Scene& scene, int id, bool keepsConnection)
{
    std::mt19937 random(static_cast<unsigned>(id));
    Connection connection(scene);
    auto nextUpdateCheck = Clock::now() + kBetweenUpdateChecks;
    auto choice = questionChoice();
    while (!scene.stop) {
        {
            const std::shared_lock lock(scene.world);
            auto question = questions(scene)[choice(random)];
            // The first client also asks for update checks now and then.
            if (id == 0 && Clock::now() >= nextUpdateCheck) {
                question = { "checkUpdate", "checkUpdate", "1" };
                nextUpdateCheck = Clock::now() + kBetweenUpdateChecks;
            }
            const long token = nextToken();
            if (auto reply = connection.ask(question.kind, withToken(question.line, token), question.expected, question.alsoRight))
                scene.tally.logged({ token, id, *reply });
            if (!keepsConnection)
                connection.drop();
        }
        pause(random);
    }
}

void askEveryKindOnce(Scene& scene)
{
    Connection connection(scene);
    for (auto const& question : questions(scene))
        connection.ask(question.kind, question.line + "\n", question.expected, question.alsoRight);
    for (auto command : { "checkUpdate", "preventSystemSleep", "allowSystemSleep" })
        connection.ask(command, std::string(command) + "\n", "1");
}

namespace {

constexpr const char* kOurInhibitor = "idle|Ferrowind Helper|Ferrowind is still downloading|block";

// The mock lets an inhibitor go once it sees its descriptor close, a
// moment after the helper has answered.
bool inhibitorsBecome(const harness::PrivateBus& systemBus, std::size_t count)
{
    return testing_support::eventually(
        [&] {
            const auto held = harness::logindInhibitors(systemBus);
            return held.size() == count && std::ranges::all_of(held, [](auto const& one) { return one == kOurInhibitor; });
        },
        2s, 20ms);
}

} // namespace

void runSleepClient(Scene& scene, const harness::PrivateBus& systemBus)
{
    std::mt19937 random(7);
    Connection connection(scene);
    std::uniform_int_distribution<int> twice(0, 1);
    while (!scene.stop) {
        {
            const std::shared_lock lock(scene.world);
            const int asked = 1 + twice(random);
            for (int i = 0; i < asked; ++i)
                connection.ask("preventSystemSleep", "preventSystemSleep\n", "1");
            if (!inhibitorsBecome(systemBus, 1))
                scene.tally.wrong("preventSystemSleep asked " + std::to_string(asked) + " times: logind does not hold exactly one inhibitor of ours");
        }
        std::this_thread::sleep_for(500ms);
        {
            const std::shared_lock lock(scene.world);
            connection.ask("allowSystemSleep", "allowSystemSleep\n", "1");
            if (!inhibitorsBecome(systemBus, 0))
                scene.tally.wrong("allowSystemSleep: logind still holds an inhibitor");
        }
        std::this_thread::sleep_for(500ms);
    }
}

} // namespace soak
