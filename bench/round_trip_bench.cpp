// Round trip of `version` against a bare blocking echo server on loopback,
// start-up time to the welcome line, and what an idle helper costs.
// Run it where no other helper holds port 9483 (scripts/bench.sh runs it in
// namespaces of its own).
#include "bench_support.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <sched.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace bench;

constexpr int kHelperPort = 9483;
constexpr int kCommands = 20'000;
constexpr int kStarts = 20;

// Where the servers run relative to the client. Left to the scheduler, one
// server may share the client's CPU and the other not, and a wake-up across
// CPUs costs more on a virtual machine than everything the server does, so
// both are placed alike.
int g_serverCPU = 0;

void pinTo(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

std::vector<double> roundTrips(int descriptor, int count)
{
    std::string pending;
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(count));
    static const std::string command = "version\n";
    for (int i = 0; i < count; ++i) {
        auto started = Clock::now();
        if (write(descriptor, command.data(), command.size()) != static_cast<ssize_t>(command.size()) || !readLine(descriptor, pending)) {
            std::fprintf(stderr, "connection lost\n");
            std::exit(1);
        }
        samples.push_back(microseconds(Clock::now() - started));
    }
    return samples;
}

// The reference: as little as a blocking server on loopback can do, in a
// process of its own like the helper.
int startEchoServer(pid_t& server)
{
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 1);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    server = fork();
    if (server == 0) {
        pinTo(g_serverCPU);
        int client = accept(listener, nullptr, nullptr);
        char buffer[2048];
        ssize_t count;
        while ((count = read(client, buffer, sizeof buffer)) > 0)
            (void)!write(client, buffer, static_cast<std::size_t>(count));
        _exit(0);
    }
    close(listener);
    return ntohs(address.sin_port);
}

pid_t startHelper()
{
    pid_t pid = fork();
    if (pid == 0) {
        pinTo(g_serverCPU);
        execl(HELPER_EXECUTABLE, HELPER_EXECUTABLE, static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// Time from fork to the first byte of the welcome line.
std::optional<double> timeToWelcome(pid_t& pid, int& descriptor)
{
    auto started = Clock::now();
    pid = startHelper();
    while ((descriptor = connectTo(kHelperPort)) < 0) {
        if (Clock::now() - started > 10s)
            return std::nullopt;
        std::this_thread::sleep_for(50us);
    }
    char byte;
    if (read(descriptor, &byte, 1) != 1)
        return std::nullopt;
    return microseconds(Clock::now() - started);
}

void stopHelper(pid_t pid, int descriptor)
{
    (void)!write(descriptor, "quit\n", 5);
    close(descriptor);
    waitpid(pid, nullptr, 0);
}

long statusField(pid_t pid, const std::string& task, const std::string& field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + (task.empty() ? "" : "/task/" + task) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::atol(line.c_str() + field.size() + 1);
    }
    return -1;
}

// Context switches of every thread: each wake-up of a thread costs one.
long contextSwitches(pid_t pid)
{
    long total = 0;
    for (auto const& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        auto name = task.path().filename().string();
        total += statusField(pid, name, "voluntary_ctxt_switches") + statusField(pid, name, "nonvoluntary_ctxt_switches");
    }
    return total;
}

void compareRoundTrips(const char* placement)
{
    pid_t pid;
    int helper;
    timeToWelcome(pid, helper);
    std::string welcomeRest;
    readLine(helper, welcomeRest);
    int noDelay = 1;
    setsockopt(helper, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    pid_t server;
    int echo = connectTo(startEchoServer(server));
    setsockopt(echo, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);

    // Interleave rounds so both see the same machine load.
    std::vector<double> helperSamples, echoSamples;
    for (int round = 0; round < 10; ++round) {
        auto h = roundTrips(helper, kCommands / 10);
        auto e = roundTrips(echo, kCommands / 10);
        helperSamples.insert(helperSamples.end(), h.begin(), h.end());
        echoSamples.insert(echoSamples.end(), e.begin(), e.end());
    }
    close(echo);
    waitpid(server, nullptr, 0);
    stopHelper(pid, helper);
    auto h = summarise(helperSamples);
    auto e = summarise(echoSamples);
    std::printf("round trip of version, %s, %d commands each:\n", placement, kCommands);
    std::printf("  helper           median %6.1f us, p99 %6.1f us\n", h.median, h.p99);
    std::printf("  bare echo server median %6.1f us, p99 %6.1f us\n", e.median, e.p99);
    std::printf("  ratio of medians %.2f (target <= 1.5)\n", h.median / e.median);
}

} // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    pinTo(0);

    std::vector<double> starts;
    for (int i = 0; i < kStarts; ++i) {
        pid_t pid;
        int descriptor;
        auto elapsed = timeToWelcome(pid, descriptor);
        if (!elapsed) {
            std::fprintf(stderr, "the helper did not answer; is port %d free?\n", kHelperPort);
            return 1;
        }
        starts.push_back(*elapsed);
        stopHelper(pid, descriptor);
    }
    auto start = summarise(starts);
    std::printf("start to welcome line: median %.0f us over %d starts\n", start.median, kStarts);

    pid_t pid;
    int helper;
    for (int cpu : { 0, 1 }) {
        if (cpu >= static_cast<int>(std::thread::hardware_concurrency()))
            break;
        g_serverCPU = cpu;
        compareRoundTrips(cpu == 0 ? "client and servers on one CPU" : "client and servers on two CPUs");
    }
    g_serverCPU = 0;
    timeToWelcome(pid, helper);
    std::string welcomeRest;
    readLine(helper, welcomeRest);
    long rssBefore = statusField(pid, "", "VmRSS");
    roundTrips(helper, kCommands);
    // Let the last reply's thread settle into its wait before counting.
    std::this_thread::sleep_for(200ms);
    long rssAfter = statusField(pid, "", "VmRSS");
    long switchesBefore = contextSwitches(pid);
    std::this_thread::sleep_for(5s);
    long idleWakeUps = contextSwitches(pid) - switchesBefore;
    std::printf("idle helper: %ld wake-ups in 5 s; resident memory %ld KiB at start, %ld KiB after the commands\n",
        idleWakeUps, rssBefore, rssAfter);
    stopHelper(pid, helper);
    return 0;
}
