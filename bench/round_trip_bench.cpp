// Round trip of `version` against a bare blocking echo server on loopback,
// without a log daemon and with one as on a desktop (journald, or a syslog
// daemon reading /dev/log),
// start-up time to the welcome line, and what an idle helper costs.
// Run it where no other helper holds port 9483, as root or in a user
// namespace of its own (scripts/bench.sh runs it in namespaces of its own:
// the log daemon's socket is put in place in a private mount namespace). An
// argument names another helper executable to measure instead of the one
// built beside it.
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
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace bench;

constexpr int kHelperPort = 9483;
constexpr int kCommands = 20'000;
constexpr int kPacedCommands = 2'000;
constexpr int kStarts = 20;

// Where the servers run relative to the client. Left to the scheduler, one
// server may share the client's CPU and the other not, and a wake-up across
// CPUs costs more on a virtual machine than everything the server does, so
// both are placed alike.
int g_serverCPU = 0;
const char* g_helperExecutable = HELPER_EXECUTABLE;

// `pause`: the time between one reply and the next command; none for
// commands back to back.
std::vector<double> roundTrips(int descriptor, int count, Clock::duration pause = {})
{
    std::string pending;
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(count));
    static const std::string command = "version\n";
    for (int i = 0; i < count; ++i) {
        if (pause > Clock::duration::zero())
            std::this_thread::sleep_for(pause);
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
        execl(g_helperExecutable, g_helperExecutable, static_cast<char*>(nullptr));
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

// Stands in for journald or rsyslog: a process of its own reading every
// datagram sent to the log socket, one at a time as they do. The machine may
// have neither socket, so the folder that holds it is replaced, in the
// benchmark's own mount namespace, by a tmpfs holding the same entries and
// the socket: /dev for rsyslog's /dev/log, /run for journald's
// /run/systemd/journal/socket, which the helper prefers where it is.
class LogDaemonStandIn {
public:
    LogDaemonStandIn(const char* folder, const char* socketWithin)
        : m_folder(folder)
        , m_socketWithin(socketWithin)
    {
    }

    bool start()
    {
        char scratch[] = "/tmp/ferrowind-bench-folder-XXXXXX";
        if (!mkdtemp(scratch) || mount("tmpfs", scratch, "tmpfs", 0, "mode=755") != 0) {
            std::perror("a tmpfs for the log socket's folder");
            return false;
        }
        m_scratch = scratch;
        // The socket's own folders are made afresh, not bound: the
        // machine's own are left as they are.
        const auto socketTop = m_socketWithin.begin()->string();
        for (auto const& entry : std::filesystem::directory_iterator(m_folder)) {
            if (entry.path().filename() == socketTop)
                continue;
            auto copy = m_scratch / entry.path().filename();
            std::error_code ignored;
            if (entry.is_symlink())
                std::filesystem::copy_symlink(entry.path(), copy, ignored);
            else if (entry.is_directory(ignored) ? mkdir(copy.c_str(), 0755) == 0 : std::ofstream(copy).good())
                mount(entry.path().c_str(), copy.c_str(), nullptr, MS_BIND | MS_REC, nullptr);
        }
        std::filesystem::create_directories((m_scratch / m_socketWithin).parent_path());
        int socketDescriptor = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (m_scratch / m_socketWithin).c_str());
        if (bind(socketDescriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || mount(scratch, m_folder.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
            std::perror("a log socket");
            return false;
        }
        // A fresh network namespace lets 10 datagrams wait unread; systemd
        // sets 512 on a desktop.
        std::ofstream("/proc/sys/net/unix/max_dgram_qlen") << 512;
        int counts[2];
        (void)!pipe(counts);
        m_pid = fork();
        if (m_pid == 0) {
            pinTo(0);
            close(counts[0]);
            long counted[2] = { 0, 0 };
            auto& [lines, wakeUps] = counted;
            char buffer[8192];
            // An empty datagram from the benchmark ends it; no log line is empty.
            for (;;) {
                auto length = recv(socketDescriptor, buffer, sizeof buffer, MSG_DONTWAIT);
                if (length < 0) {
                    ++wakeUps;
                    length = recv(socketDescriptor, buffer, sizeof buffer, 0);
                }
                if (length <= 0)
                    break;
                ++lines;
            }
            (void)!write(counts[1], counted, sizeof counted);
            _exit(0);
        }
        close(counts[1]);
        m_counts = counts[0];
        m_socket = socketDescriptor;
        return true;
    }

    // Stops the daemon and tells how many lines it read, in how many
    // wake-ups.
    void stop()
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (m_folder / m_socketWithin).c_str());
        int sender = socket(AF_UNIX, SOCK_DGRAM, 0);
        sendto(sender, "", 0, 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
        close(sender);
        long counted[2] = { -1, -1 };
        (void)!read(m_counts, counted, sizeof counted);
        std::printf("  the log daemon read %ld lines in %ld wake-ups\n", counted[0], counted[1]);
        waitpid(m_pid, nullptr, 0);
        close(m_counts);
        close(m_socket);
        umount2(m_folder.c_str(), MNT_DETACH);
        umount2(m_scratch.c_str(), MNT_DETACH);
        rmdir(m_scratch.c_str());
    }

private:
    const std::filesystem::path m_folder;
    const std::filesystem::path m_socketWithin;
    std::filesystem::path m_scratch;
    pid_t m_pid { -1 };
    int m_counts { -1 };
    int m_socket { -1 };
};

void compareRoundTrips(const char* placement, int commands = kCommands, Clock::duration pause = {})
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

    // Interleave rounds so both see the same machine load. Between rounds
    // the CPU is left idle for a while, so that what a server leaves to do
    // in the background (the helper's log lines) is done in its own round
    // rather than in the other's.
    std::vector<double> helperSamples, echoSamples;
    for (int round = 0; round < 10; ++round) {
        auto h = roundTrips(helper, commands / 10, pause);
        std::this_thread::sleep_for(20ms);
        auto e = roundTrips(echo, commands / 10, pause);
        std::this_thread::sleep_for(20ms);
        helperSamples.insert(helperSamples.end(), h.begin(), h.end());
        echoSamples.insert(echoSamples.end(), e.begin(), e.end());
    }
    close(echo);
    waitpid(server, nullptr, 0);
    stopHelper(pid, helper);
    auto h = summarise(helperSamples);
    auto e = summarise(echoSamples);
    std::printf("round trip of version, %s, %d commands each", placement, commands);
    if (pause > Clock::duration::zero())
        std::printf(" %.0f us apart", microseconds(pause));
    std::printf(":\n  helper           median %6.1f us, p99 %6.1f us, mean %6.1f us\n", h.median, h.p99, h.mean);
    std::printf("  bare echo server median %6.1f us, p99 %6.1f us, mean %6.1f us\n", e.median, e.p99, e.mean);
    std::printf("  ratio of medians %.2f, of p99 %.2f, of means %.2f\n", h.median / e.median, h.p99 / e.p99, h.mean / e.mean);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1)
        g_helperExecutable = argv[1];
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

    // One CPU gives steady figures; across two, a wake-up on a virtual
    // machine costs more than the round trip itself, now and then.
    compareRoundTrips("client and servers on CPU 0, no log daemon (target <= 1.5)");
    compareRoundTrips("client and servers on CPU 0, no log daemon", kPacedCommands, 500us);
    if (std::thread::hardware_concurrency() > 1) {
        g_serverCPU = 1;
        compareRoundTrips("client on CPU 0, servers on CPU 1, no log daemon");
        g_serverCPU = 0;
    }
    // Every command writes two log lines; on a desktop a daemon reads them.
    struct LogDaemon {
        const char* name;
        const char* folder;
        const char* socketWithin;
    };
    for (const LogDaemon& kind : { LogDaemon { "journald", "/run", "systemd/journal/socket" }, LogDaemon { "a syslog daemon", "/dev", "log" } }) {
        LogDaemonStandIn daemon(kind.folder, kind.socketWithin);
        if (!daemon.start())
            return 1;
        compareRoundTrips((std::string("client, servers and ") + kind.name + " on CPU 0 (target <= 1.25)").c_str());
        daemon.stop();
        if (!daemon.start())
            return 1;
        // As on a desktop, where commands come one at a time: the reply
        // should not wait for the log.
        compareRoundTrips((std::string("client, servers and ") + kind.name + " on CPU 0").c_str(), kPacedCommands, 500us);
        daemon.stop();
    }

    pid_t pid;
    int helper;
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
