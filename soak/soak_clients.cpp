#include "soak/soak_clients.h"

#include "integration/dbus_mock_harness.h"
#include "support/eventually.h"

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <thread>

namespace soak {

namespace {

using harness::Client;

constexpr int kPort = harness::kPort;
// How long a client waits for anything before it calls it lost.
constexpr auto kPatience = 15s;
// What a download manager does between two requests.
constexpr int kLeastPauseMs = 2;
constexpr int kMostPauseMs = 30;
// A mount that has just resumed may be answered as silent a moment longer.
constexpr auto kResumeGrace = 1s;
// The helper closes a line left incomplete this long.
constexpr auto kIncompleteLineLimit = 3s;
constexpr auto kBetweenUpdateChecks = 10s;

std::string quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

std::string shown(const std::optional<std::string>& text) { return text ? "\"" + *text + "\"" : "nothing"; }

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
    if (*reply != expected && reply != alsoRight)
        m_scene.tally.wrong(kind + ": " + line.substr(0, line.size() - 1) + " answered " + *reply + ", expected " + expected);
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

namespace {

struct HostileLine {
    std::string kind;
    std::string bytes;
    // Sent a byte at a time, this far apart.
    Clock::duration betweenBytes {};
    // The answer, or none when the helper must close the connection
    // without one.
    std::optional<std::string> answer;
};

std::vector<HostileLine> hostileLines(const Scene& scene)
{
    return {
        { "NUL in a line", std::string("vers\0ion\n", 9), {}, std::nullopt },
        { "invalid UTF-8", "version \"\xff\xfe\xc3\x28\"\n", {}, std::nullopt },
        { "trickled line", "version\n", 150ms, "\"" + scene.truth.version + "\"" },
        { "2 MB line", std::string(2 << 20, 'A'), {}, std::nullopt },
        { "HTTP request", "GET /appcast.xml HTTP/1.1\r\nHost: 127.0.0.1:9483\r\n\r\n", {}, std::nullopt },
        { "stalled line", "versi", {}, std::nullopt },
    };
}

void sendHostile(Client& client, const HostileLine& line)
{
    if (line.betweenBytes == Clock::duration {}) {
        // Whatever the helper has not read when it closes is lost, and the
        // send fails; both are what a client that sends this should expect.
        ::send(client.descriptor(), line.bytes.data(), line.bytes.size(), MSG_NOSIGNAL);
        return;
    }
    for (char byte : line.bytes) {
        ::send(client.descriptor(), &byte, 1, MSG_NOSIGNAL);
        std::this_thread::sleep_for(line.betweenBytes);
    }
}

// A line the helper must not answer ends the connection; one left
// incomplete does so only after the helper has waited for its end.
void expectClosed(Scene& scene, Client& client, const HostileLine& line, Clock::time_point sent)
{
    const bool stalls = line.kind == "stalled line";
    const auto bound = kReplyBound + (stalls ? kIncompleteLineLimit : Clock::duration {});
    const bool closed = client.closedWithoutData(kPatience + bound);
    const auto took = Clock::now() - sent;
    if (!closed)
        scene.tally.wrong(line.kind + ": not closed without an answer");
    else if (stalls && took < kIncompleteLineLimit - 100ms)
        scene.tally.wrong(line.kind + ": closed after only " + std::to_string(took / 1ms) + " ms");
    scene.tally.answered(line.kind, took);
    if (took > bound)
        scene.tally.late(line.kind, took);
}

void tryHostile(Scene& scene, const HostileLine& line)
{
    Connection connection(scene);
    Client* client = connection.greeted();
    if (!client)
        return;
    const auto started = Clock::now();
    sendHostile(*client, line);
    const auto sent = Clock::now();
    if (!line.answer) {
        expectClosed(scene, *client, line, sent);
        return;
    }
    const auto reply = client->readLine(kPatience);
    const auto took = Clock::now() - (line.betweenBytes == Clock::duration {} ? started : sent);
    if (reply != line.answer)
        scene.tally.wrong(line.kind + ": answered " + shown(reply) + ", expected " + *line.answer);
    if (reply) {
        scene.tally.note("other commands answered");
        scene.tally.answered(line.kind, took);
    }
    if (took > kReplyBound)
        scene.tally.late(line.kind, took);
}

} // namespace

void runHostileClient(Scene& scene)
{
    std::size_t next = 0;
    while (!scene.stop) {
        {
            const std::shared_lock lock(scene.world);
            const auto lines = hostileLines(scene);
            tryHostile(scene, lines[next++ % lines.size()]);
        }
        std::this_thread::sleep_for(300ms);
    }
}

namespace {

constexpr uid_t kOtherUser = 65534;
// Half the helper's queue of pending connections. A storm that fills it
// makes the owner's connections wait for TCP to send their handshake again,
// a second and more, which is the kernel's wait rather than the helper's.
constexpr int kStormInFlight = 8;

int startConnecting()
{
    int descriptor = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(kPort);
    connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return descriptor;
}

// Each connection is replaced by another as soon as the helper ends it.
[[noreturn]] void storm(int control, std::atomic<long>& made)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (setgroups(0, nullptr) != 0 || setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0)
        _exit(3);
    char go;
    if (read(control, &go, 1) != 1)
        _exit(0);
    pollfd slots[kStormInFlight + 1];
    slots[0] = { control, POLLIN, 0 };
    for (int i = 1; i <= kStormInFlight; ++i)
        slots[i] = { startConnecting(), POLLIN, 0 };
    for (;;) {
        poll(slots, kStormInFlight + 1, 1000);
        if (slots[0].revents)
            _exit(0);
        for (int i = 1; i <= kStormInFlight; ++i) {
            if (!slots[i].revents)
                continue;
            close(slots[i].fd);
            slots[i].fd = startConnecting();
            made.fetch_add(1, std::memory_order_relaxed);
        }
    }
}

} // namespace

OtherUserStorm::OtherUserStorm()
{
    if (!harness::mayActAsAnotherUser()) {
        m_refusal = "no other user to become (run as root for the storm)";
        return;
    }
    void* shared = mmap(nullptr, sizeof(std::atomic<long>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    m_made = new (shared) std::atomic<long>(0);
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    m_pid = fork();
    if (m_pid == 0) {
        close(pipe[1]);
        storm(pipe[0], *m_made);
    }
    close(pipe[0]);
    m_control = pipe[1];
}

OtherUserStorm::~OtherUserStorm() { stop(); }

void OtherUserStorm::start()
{
    if (m_control >= 0 && write(m_control, "g", 1) != 1)
        m_refusal = "the storm did not start";
}

void OtherUserStorm::stop()
{
    if (m_control < 0)
        return;
    close(m_control);
    m_control = -1;
    waitpid(m_pid, nullptr, 0);
}

long OtherUserStorm::connections() const { return m_made ? m_made->load() : 0; }

} // namespace soak
