// Another client's `version` round trip while one client trickles a 30-byte
// line at a byte a second and five send malformed lines (a zero byte,
// invalid UTF-8) in two parts, 100 ms apart, so that five are in flight at
// any time; beside the same round trip with the helper otherwise quiet.
// Quiet and busy rounds alternate, so both see the same machine load.
// Prints medians, p99 and the longest, and the ratio of the p99 figures.
// Helper, clients and the benchmark all run on CPU 0: round trips are
// steady only so (see bench_support.h). Run it where no other helper holds
// port 9483; scripts/bench.sh runs it in namespaces of its own. An argument
// names another helper executable to measure instead of the one built
// beside it.
#include "bench_support.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace bench;

constexpr int kHelperPort = 9483;
constexpr int kRounds = 3;
constexpr auto kQuietPhase = 2s;
// Long enough for the helper to cut the trickling line off: it allows a
// line 3 s from its first byte.
constexpr auto kBusyPhase = 3500ms;

// Disturbers work while g_busy holds, and end when g_stop does.
std::atomic<bool> g_busy { false };
std::atomic<bool> g_stop { false };
std::atomic<int> g_cutOff { 0 };
std::atomic<int> g_refused { 0 };
std::atomic<int> g_answered { 0 };

// True when the helper has closed the connection.
bool closedWithin(int descriptor, int milliseconds)
{
    pollfd entry { descriptor, POLLIN, 0 };
    char buffer[256];
    while (poll(&entry, 1, milliseconds) > 0) {
        auto count = recv(descriptor, buffer, sizeof buffer, MSG_DONTWAIT);
        if (count <= 0)
            return true;
        g_answered += static_cast<int>(std::string_view(buffer, static_cast<std::size_t>(count)).find('\n') != std::string_view::npos);
    }
    return false;
}

int connectAndReadWelcome()
{
    int descriptor = connectTo(kHelperPort);
    std::string pending;
    if (descriptor >= 0 && !readLine(descriptor, pending)) {
        close(descriptor);
        return -1;
    }
    return descriptor;
}

// A byte a second of a 30-byte command line, on a fresh connection each
// time the helper cuts the line off.
void trickle()
{
    static constexpr std::string_view line = "version \"a slow clients line\"\n";
    static_assert(line.size() == 30);
    while (!g_stop) {
        if (!g_busy) {
            std::this_thread::sleep_for(10ms);
            continue;
        }
        int descriptor = connectAndReadWelcome();
        for (std::size_t sent = 0; descriptor >= 0 && sent < line.size() && g_busy; ++sent) {
            if (send(descriptor, &line[sent], 1, MSG_NOSIGNAL) != 1)
                break;
            if (closedWithin(descriptor, 1000)) {
                ++g_cutOff;
                break;
            }
        }
        if (descriptor >= 0)
            close(descriptor);
    }
}

// One malformed line after another, each in two parts: it is in flight for
// 100 ms, then refused.
void sendMalformed(std::string_view body)
{
    while (!g_stop) {
        if (!g_busy) {
            std::this_thread::sleep_for(10ms);
            continue;
        }
        int descriptor = connectAndReadWelcome();
        if (descriptor < 0)
            continue;
        if (send(descriptor, body.data(), body.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(body.size())) {
            std::this_thread::sleep_for(100ms);
            if (send(descriptor, "\n", 1, MSG_NOSIGNAL) == 1 && closedWithin(descriptor, 5000))
                ++g_refused;
        }
        close(descriptor);
    }
}

// Commands back to back for `phase`, added to `samples`.
void roundTrips(int descriptor, Clock::duration phase, std::vector<double>& samples)
{
    std::string pending;
    const auto end = Clock::now() + phase;
    while (Clock::now() < end) {
        auto started = Clock::now();
        if (write(descriptor, "version\n", 8) != 8 || !readLine(descriptor, pending)) {
            std::fprintf(stderr, "the measured connection was lost\n");
            std::exit(1);
        }
        samples.push_back(microseconds(Clock::now() - started));
    }
}

void print(const char* label, const std::vector<double>& samples)
{
    auto summary = summarise(samples);
    std::printf("  %-40s median %5.1f us, p99 %6.1f us, longest %8.1f us (%zu commands)\n", label, summary.median,
        summary.p99, *std::max_element(samples.begin(), samples.end()), samples.size());
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    pinTo(0);
    const char* executable = argc > 1 ? argv[1] : HELPER_EXECUTABLE;
    pid_t helper = fork();
    if (helper == 0) {
        execl(executable, executable, static_cast<char*>(nullptr));
        _exit(127);
    }
    int measured = -1;
    for (auto deadline = Clock::now() + 10s; measured < 0 && Clock::now() < deadline; std::this_thread::sleep_for(10ms))
        measured = connectAndReadWelcome();
    if (measured < 0) {
        std::fprintf(stderr, "the helper did not answer; is port %d free?\n", kHelperPort);
        return 1;
    }
    int noDelay = 1;
    setsockopt(measured, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);

    std::vector<std::thread> disturbers;
    disturbers.emplace_back(trickle);
    using namespace std::string_view_literals;
    for (auto body : { "version\0"sv, "version \xff\xfe"sv, "ver\xc3\x28sion"sv, "version \xed\xa0\x80"sv, "quit\0now"sv })
        disturbers.emplace_back(sendMalformed, body);
    std::vector<double> quiet, busy;
    for (int round = 0; round < kRounds; ++round) {
        roundTrips(measured, kQuietPhase, quiet);
        g_busy = true;
        // Every disturber has its line in flight first.
        std::this_thread::sleep_for(200ms);
        roundTrips(measured, kBusyPhase, busy);
        g_busy = false;
        // The trickling client notices within a second.
        std::this_thread::sleep_for(1200ms);
    }
    g_stop = true;
    for (auto& thread : disturbers)
        thread.join();

    std::printf("version round trip of one client, commands back to back, everything on CPU 0:\n");
    print("quiet helper", quiet);
    print("a trickling line, five malformed lines", busy);
    std::printf("  ratio of p99 %.2f (target <= 10), of medians %.2f\n", summarise(busy).p99 / summarise(quiet).p99,
        summarise(busy).median / summarise(quiet).median);
    std::printf("  the trickling line was cut off %d times; %d malformed lines refused, %d answered (should be 0)\n",
        g_cutOff.load(), g_refused.load(), g_answered.load());

    (void)!write(measured, "quit\n", 5);
    close(measured);
    waitpid(helper, nullptr, 0);
    return g_answered == 0 ? 0 : 1;
}
