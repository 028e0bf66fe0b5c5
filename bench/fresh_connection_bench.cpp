// A fresh connection (connect, welcome line, `version`, close) to the
// helper, beside the same to a greeting echo server in a process of its own,
// on a desktop's worth of processes: 300 extra processes of the user, each
// holding 50 open files, which the helper may have to look through to learn
// who holds a connection. Three clients:
//   - a plain process of the user reconnecting 400 times;
//   - a sandbox-like client (a mount namespace and root of its own with
//     Flatpak's file naming the main application) reconnecting 400 times;
//   - processes never seen before, one connection each;
//   - the main application in a real Flatpak sandbox (flatpak run, on an
//     offline runtime of busybox), reconnecting 400 times: this program,
//     linked statically, run inside it with --reconnect. On a systemd
//     desktop flatpak runs it in a scope of its own, whose name says who
//     it is. Its first connection is shown apart.
// Everything runs on CPU 0, as round_trip_bench explains. Run it where no
// other helper holds port 9483 (scripts/bench.sh runs it in namespaces of
// its own).
#include "bench_support.h"
#include "support/flatpak_apps.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

namespace {

using namespace bench;

constexpr int kHelperPort = 9483;
constexpr int kCrowd = 300;
constexpr int kFilesEach = 50;
constexpr int kReconnections = 400;
constexpr int kRounds = 10;
constexpr int kNewProcesses = 40;

std::vector<pid_t> startCrowd()
{
    std::vector<pid_t> crowd;
    for (int i = 0; i < kCrowd; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            for (int file = 0; file < kFilesEach; ++file)
                open("/dev/null", O_RDONLY);
            for (;;)
                pause();
        }
        crowd.push_back(pid);
    }
    return crowd;
}

// The reference: greets each connection and echoes its lines, one
// connection at a time, as little as a server of this protocol can do.
int startGreetingEchoServer(pid_t& server)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 16);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    server = fork();
    if (server == 0) {
        for (;;) {
            const int client = accept(listener, nullptr, nullptr);
            (void)!write(client, "Echo/1.0 - user\n", 16);
            char buffer[2048];
            ssize_t count;
            while ((count = read(client, buffer, sizeof buffer)) > 0)
                (void)!write(client, buffer, static_cast<std::size_t>(count));
            close(client);
        }
    }
    close(listener);
    return ntohs(address.sin_port);
}

// One fresh connection; nothing when it was refused or lost.
std::optional<double> freshConnection(int port)
{
    const auto started = Clock::now();
    const int descriptor = connectTo(port);
    std::string pending;
    const bool answered = descriptor >= 0 && readLine(descriptor, pending) && write(descriptor, "version\n", 8) == 8 && readLine(descriptor, pending);
    close(descriptor);
    if (!answered)
        return std::nullopt;
    return microseconds(Clock::now() - started);
}

// A root of its own in memory holding the file Flatpak puts in every
// sandbox, in a mount namespace of its own; false where none can be made.
bool enterSandboxLikeRoot()
{
    const auto root = std::filesystem::temp_directory_path() / ("fresh-connection-root-" + std::to_string(getpid()));
    std::filesystem::create_directories(root);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || mount("tmpfs", root.c_str(), "tmpfs", 0, nullptr) != 0)
        return false;
    std::ofstream(root / ".flatpak-info") << "[Application]\nname=com.Calderine.Ferrowind3\n";
    return chroot(root.c_str()) == 0 && chdir("/") == 0;
}

// Runs `work` in a child, which reports its samples back through a pipe.
std::vector<double> inChild(const std::function<std::vector<double>()>& work)
{
    int ends[2];
    if (pipe(ends) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        const auto samples = work();
        (void)!write(ends[1], samples.data(), samples.size() * sizeof(double));
        _exit(0);
    }
    close(ends[1]);
    std::vector<double> samples;
    double sample;
    while (read(ends[0], &sample, sizeof sample) == sizeof sample)
        samples.push_back(sample);
    close(ends[0]);
    waitpid(child, nullptr, 0);
    return samples;
}

// Reconnections to the helper and to the echo server in turn, in rounds.
std::pair<std::vector<double>, std::vector<double>> reconnecting(int echoPort, int& refused)
{
    std::vector<double> helper, echo;
    for (int round = 0; round < kRounds; ++round) {
        for (int i = 0; i < kReconnections / kRounds; ++i) {
            if (auto sample = freshConnection(kHelperPort))
                helper.push_back(*sample);
            else
                ++refused;
        }
        for (int i = 0; i < kReconnections / kRounds; ++i) {
            if (auto sample = freshConnection(echoPort))
                echo.push_back(*sample);
        }
    }
    return { helper, echo };
}

// Inside the sandbox: reconnects to both and writes the samples to `file`,
// each list after its length.
int reconnectInSandbox(int helperPort, int echoPort, const char* file)
{
    std::vector<double> helper, echo;
    for (int round = 0; round < kRounds; ++round) {
        for (int i = 0; i < kReconnections / kRounds; ++i) {
            if (auto sample = freshConnection(helperPort))
                helper.push_back(*sample);
        }
        for (int i = 0; i < kReconnections / kRounds; ++i) {
            if (auto sample = freshConnection(echoPort))
                echo.push_back(*sample);
        }
    }
    std::ofstream out(file, std::ios::binary);
    writeSamples(out, helper);
    writeSamples(out, echo);
    return 0;
}

// The main application in a real Flatpak, this program inside it; why not,
// when it cannot run.
std::string runMainApplicationInFlatpak(const char* self, int echoPort, std::vector<double>& helper, std::vector<double>& echo)
{
    testing_support::FlatpakApps apps;
    if (!apps.ready())
        return "flatpak cannot make an offline runtime here";
    if (auto refusal = apps.sandboxRefusal())
        return "no sandbox here: " + *refusal;
    const char* id = "com.Calderine.Ferrowind3";
    const auto script = "exec /app/bin/fresh_connection_bench --reconnect " + std::to_string(kHelperPort) + " " + std::to_string(echoPort) + " \"$XDG_DATA_HOME/samples\"";
    if (!apps.install(id, script, { self }) || !apps.run(id, std::chrono::seconds(300)))
        return "the application did not install or run";
    std::ifstream in(apps.dataFolder(id) / "samples", std::ios::binary);
    helper = readSamples(in);
    echo = readSamples(in);
    return {};
}

void printRow(const char* what, const std::vector<double>& helper, const std::vector<double>& echo, int refused)
{
    if (helper.empty() || echo.empty()) {
        std::printf("  %-34s no samples (%d refused)\n", what, refused);
        return;
    }
    const auto h = summarise(helper);
    const auto e = summarise(echo);
    std::printf("  %-34s helper median %8.1f us p90 %8.1f us | echo median %6.1f us | ratio %5.2f (%zu samples, %d refused)\n", what, h.median,
        h.p90, e.median, h.median / e.median, helper.size(), refused);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && !std::strcmp(argv[1], "--reconnect"))
        return reconnectInSandbox(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
    pinTo(0);
    signal(SIGPIPE, SIG_IGN);
    const auto crowd = startCrowd();
    pid_t echoServer = 0;
    const int echoPort = startGreetingEchoServer(echoServer);
    const pid_t helper = startHelper(argc > 1 ? argv[1] : HELPER_EXECUTABLE, kHelperPort);
    const auto self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::printf("Fresh connections with %d processes x %d files of the user\n", kCrowd, kFilesEach);

    int refused = 0;
    auto [plainHelper, plainEcho] = reconnecting(echoPort, refused);
    printRow("plain process, reconnecting", plainHelper, plainEcho, refused);

    // The echo figures of the plain client stand beside these too.
    const auto sandboxSamples = inChild([&] {
        int unused = 0;
        return enterSandboxLikeRoot() ? reconnecting(echoPort, unused).first : std::vector<double> {};
    });
    printRow("sandbox-like process, reconnecting", sandboxSamples, plainEcho, kReconnections - static_cast<int>(sandboxSamples.size()));

    std::vector<double> firstHelper, firstEcho;
    int firstRefused = 0;
    for (int i = 0; i < kNewProcesses; ++i) {
        const auto first = inChild([] {
            auto sample = freshConnection(kHelperPort);
            return sample ? std::vector<double> { *sample } : std::vector<double> {};
        });
        firstRefused += first.empty();
        firstHelper.insert(firstHelper.end(), first.begin(), first.end());
        const auto echo = inChild([echoPort] {
            auto sample = freshConnection(echoPort);
            return sample ? std::vector<double> { *sample } : std::vector<double> {};
        });
        firstEcho.insert(firstEcho.end(), echo.begin(), echo.end());
    }
    printRow("new process, first connection", firstHelper, firstEcho, firstRefused);

    std::vector<double> flatpakHelper, flatpakEcho;
    if (auto whyNot = runMainApplicationInFlatpak(self.c_str(), echoPort, flatpakHelper, flatpakEcho); !whyNot.empty()) {
        std::printf("  %-34s no samples: %s\n", "main app in its Flatpak, reconnecting", whyNot.c_str());
    } else if (!flatpakHelper.empty()) {
        std::printf("  %-34s %8.1f us\n", "main app in its Flatpak, first", flatpakHelper.front());
        flatpakHelper.erase(flatpakHelper.begin());
        printRow("main app in its Flatpak, reconnecting", flatpakHelper, flatpakEcho, kReconnections - 1 - static_cast<int>(flatpakHelper.size()));
    }

    kill(helper, SIGTERM);
    kill(echoServer, SIGKILL);
    for (pid_t pid : crowd)
        kill(pid, SIGKILL);
    while (wait(nullptr) > 0) {
    }
    return 0;
}
