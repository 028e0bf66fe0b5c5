// The owner's `version` round trip, on fresh connections and on one kept
// connection, quiet and while another user (uid 65534) storms the port with
// connections that the helper refuses, then again while that user also holds
// many idle loopback sockets. Prints medians and p90 and the storm/quiet
// ratio of p90.
// Run it as root (to become the other user) where no other helper holds port
// 9483; scripts/bench.sh runs it in namespaces of its own. An argument names
// another helper executable to measure instead of the one built beside it.
#include "bench_support.h"

#include <fcntl.h>
#include <grp.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace bench;

constexpr int kHelperPort = 9483;
constexpr uid_t kOtherUser = 65534;
constexpr int kStormProcesses = 4;
constexpr int kInFlightEach = 50;
constexpr int kHeldSockets = 18'000;
constexpr auto kAttemptPatience = 50ms;
constexpr int kFreshSamples = 200;
constexpr int kKeptPerFresh = 10;
constexpr auto kReplyLimit = 15s;
constexpr auto kPhaseLimit = 30s;
// Every child of the other user ends by itself should the benchmark die.
constexpr unsigned kChildLifetimeSeconds = 300;

int millisecondsLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

sockaddr_in loopback(int port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

int startConnecting(int port)
{
    int descriptor = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    auto address = loopback(port);
    connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return descriptor;
}

// A connection attempt whose SYN the full queue dropped waits for the kernel
// to send it again; that wait is part of what the owner sees.
int connectWithin(int port, Clock::time_point deadline)
{
    int descriptor = startConnecting(port);
    pollfd entry { descriptor, POLLOUT, 0 };
    int error = 0;
    socklen_t length = sizeof error;
    if (poll(&entry, 1, millisecondsLeft(deadline)) <= 0
        || getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        close(descriptor);
        return -1;
    }
    fcntl(descriptor, F_SETFL, 0);
    int noDelay = 1;
    setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    return descriptor;
}

bool readLineWithin(int descriptor, std::string& pending, Clock::time_point deadline)
{
    while (pending.find('\n') == std::string::npos) {
        pollfd entry { descriptor, POLLIN, 0 };
        char buffer[256];
        if (poll(&entry, 1, millisecondsLeft(deadline)) <= 0)
            return false;
        auto count = read(descriptor, buffer, sizeof buffer);
        if (count <= 0)
            return false;
        pending.append(buffer, static_cast<std::size_t>(count));
    }
    pending.erase(0, pending.find('\n') + 1);
    return true;
}

bool versionAnswered(int descriptor, std::string& pending, Clock::time_point deadline)
{
    return write(descriptor, "version\n", 8) == 8 && readLineWithin(descriptor, pending, deadline);
}

// Connect, welcome line, `version` and its answer.
std::optional<double> freshRoundTrip()
{
    auto started = Clock::now();
    auto deadline = started + kReplyLimit;
    int descriptor = connectWithin(kHelperPort, deadline);
    if (descriptor < 0)
        return std::nullopt;
    std::string pending;
    bool answered = readLineWithin(descriptor, pending, deadline) && versionAnswered(descriptor, pending, deadline);
    close(descriptor);
    if (!answered)
        return std::nullopt;
    return microseconds(Clock::now() - started);
}

struct Phase {
    std::vector<double> fresh;
    std::vector<double> kept;
    int unanswered { 0 };
};

Phase measure()
{
    Phase phase;
    std::string pending;
    int kept = connectWithin(kHelperPort, Clock::now() + kReplyLimit);
    if (kept >= 0 && !readLineWithin(kept, pending, Clock::now() + kReplyLimit)) {
        close(kept);
        kept = -1;
    }
    if (kept < 0)
        ++phase.unanswered;
    auto phaseEnd = Clock::now() + kPhaseLimit;
    for (int i = 0; i < kFreshSamples && Clock::now() < phaseEnd; ++i) {
        if (auto elapsed = freshRoundTrip())
            phase.fresh.push_back(*elapsed);
        else
            ++phase.unanswered;
        for (int k = 0; k < kKeptPerFresh && kept >= 0; ++k) {
            auto started = Clock::now();
            if (versionAnswered(kept, pending, started + kReplyLimit)) {
                phase.kept.push_back(microseconds(Clock::now() - started));
                continue;
            }
            ++phase.unanswered;
            close(kept);
            kept = -1;
        }
    }
    if (kept >= 0)
        close(kept);
    return phase;
}

void becomeOtherUser(rlim_t descriptors)
{
    rlimit limit { descriptors, descriptors };
    setrlimit(RLIMIT_NOFILE, &limit);
    if (setgroups(0, nullptr) != 0 || setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0)
        _exit(3);
    alarm(kChildLifetimeSeconds);
}

enum class Storm {
    // Each connection waits for the helper to close it; the helper's queue
    // never holds more of them than are in flight.
    heldUntilRefused,
    // Each closes as soon as it is made, so closed ones pile up in the queue.
    // An attempt whose SYN the full queue dropped is given up after
    // kAttemptPatience rather than left to the kernel's retries, which would
    // wait a second and more and calm the storm.
    closedAtOnce,
};

// Keeps kInFlightEach connections in flight, each replaced by another when
// it ends.
[[noreturn]] void storm(Storm kind, std::atomic<long>& made)
{
    becomeOtherUser(1024);
    short awaited = kind == Storm::closedAtOnce ? POLLOUT : POLLIN;
    std::vector<pollfd> slots;
    std::vector<Clock::time_point> started;
    for (int i = 0; i < kInFlightEach; ++i) {
        slots.push_back({ startConnecting(kHelperPort), awaited, 0 });
        started.push_back(Clock::now());
    }
    for (;;) {
        poll(slots.data(), slots.size(), 10);
        auto now = Clock::now();
        for (std::size_t i = 0; i < slots.size(); ++i) {
            bool ended = slots[i].revents != 0;
            if (!ended && (kind == Storm::heldUntilRefused || now - started[i] < kAttemptPatience))
                continue;
            close(slots[i].fd);
            slots[i].fd = startConnecting(kHelperPort);
            started[i] = now;
            if (ended)
                made.fetch_add(1, std::memory_order_relaxed);
        }
    }
}

// Idle loopback connections between sockets of its own, which make the
// kernel's socket tables long.
[[noreturn]] void holdIdleSockets(int pipeToParent)
{
    becomeOtherUser(kHeldSockets + 64);
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    auto address = loopback(0);
    socklen_t length = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 4096);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    for (int i = 0; i < kHeldSockets / 2; ++i) {
        int client = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || accept(listener, nullptr, nullptr) < 0)
            break;
    }
    (void)!write(pipeToParent, "x", 1);
    pause();
    _exit(0);
}

std::vector<pid_t> startStorm(Storm kind, std::atomic<long>& made)
{
    std::vector<pid_t> children;
    for (int i = 0; i < kStormProcesses; ++i) {
        pid_t child = fork();
        if (child == 0)
            storm(kind, made);
        children.push_back(child);
    }
    // Let the queue fill before measuring.
    std::this_thread::sleep_for(500ms);
    return children;
}

pid_t startHolder()
{
    int ready[2];
    if (pipe(ready) != 0)
        std::exit(1);
    pid_t child = fork();
    if (child == 0)
        holdIdleSockets(ready[1]);
    char byte;
    (void)!read(ready[0], &byte, 1);
    close(ready[0]);
    close(ready[1]);
    return child;
}

void stop(const std::vector<pid_t>& children)
{
    for (pid_t child : children)
        kill(child, SIGKILL);
    for (pid_t child : children)
        waitpid(child, nullptr, 0);
}

void printRow(const char* what, const std::vector<double>& quiet, const std::vector<double>& stormy)
{
    if (quiet.empty() || stormy.empty()) {
        std::printf("  %-16s no samples\n", what);
        return;
    }
    auto q = summarise(quiet);
    auto s = summarise(stormy);
    std::printf("  %-16s quiet median %8.1f us p90 %8.1f us | storm median %9.1f us p90 %9.1f us p99 %9.1f us"
                " (%zu samples) | p90 storm/quiet %6.1f (aim <= 10)\n",
        what, q.median, q.p90, s.median, s.p90, s.p99, stormy.size(), s.p90 / q.p90);
}

void report(const char* title, const Phase& quiet, const Phase& stormy, long made, double seconds)
{
    std::printf("%s:\n", title);
    printRow("fresh connection", quiet.fresh, stormy.fresh);
    printRow("kept connection", quiet.kept, stormy.kept);
    std::printf("  owner commands unanswered within 15 s: %d quiet, %d storm; the storm made %.0f connections/s\n\n",
        quiet.unanswered, stormy.unanswered, made / seconds);
}

Phase measureUnderStorm(Storm kind, std::atomic<long>& made, long& madeDuring, double& seconds)
{
    auto children = startStorm(kind, made);
    long before = made.load();
    auto started = Clock::now();
    auto phase = measure();
    seconds = std::chrono::duration<double>(Clock::now() - started).count();
    madeDuring = made.load() - before;
    stop(children);
    return phase;
}

} // namespace

int main(int argc, char** argv)
{
    if (getuid() != 0) {
        std::fprintf(stderr, "run as root: the storm comes from uid %u\n", kOtherUser);
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    auto* made = static_cast<std::atomic<long>*>(
        mmap(nullptr, sizeof(std::atomic<long>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    new (made) std::atomic<long>(0);

    pid_t helper = startHelper(argc > 1 ? argv[1] : HELPER_EXECUTABLE, kHelperPort);
    auto quiet = measure();
    long madeDuring = 0;
    double seconds = 1;
    std::printf("%d processes of uid %u keep %d connections in flight, each replaced when it ends\n\n", kStormProcesses,
        kOtherUser, kStormProcesses * kInFlightEach);
    auto stormy = measureUnderStorm(Storm::heldUntilRefused, *made, madeDuring, seconds);
    report("owner's version round trip, quiet and under a storm of connections the helper closes", quiet, stormy,
        madeDuring, seconds);
    stormy = measureUnderStorm(Storm::closedAtOnce, *made, madeDuring, seconds);
    report("the same under a storm of connections closed as soon as they are made", quiet, stormy, madeDuring, seconds);

    pid_t holder = startHolder();
    auto quietHeld = measure();
    auto stormyHeld = measureUnderStorm(Storm::closedAtOnce, *made, madeDuring, seconds);
    char title[128];
    std::snprintf(title, sizeof title, "the same while that user also holds %d idle loopback sockets", kHeldSockets);
    report(title, quietHeld, stormyHeld, madeDuring, seconds);
    stop({ holder });

    kill(helper, SIGKILL);
    waitpid(helper, nullptr, 0);
    return 0;
}
