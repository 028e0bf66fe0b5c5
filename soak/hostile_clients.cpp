#include "soak/soak_clients.h"

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <shared_mutex>
#include <thread>

namespace soak {

namespace {

using harness::Client;

constexpr int kPort = harness::kPort;
// The helper closes a line left incomplete this long.
constexpr auto kIncompleteLineLimit = 3s;

} // namespace

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
