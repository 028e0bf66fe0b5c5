// What a sandboxed application that must not be served costs everyone else
// when it floods the port: org.example.Other, a real Flatpak, holds 200
// processes x 2,000 descriptors and opens 32 connections at a time for 20 s.
// Beside the same figures measured before the flood:
//   - a client already served: its round trips (`version`);
//   - fresh host clients, a new process for each connection (connect until
//     the welcome);
//   - the main application in its own Flatpak, started during the flood:
//     its first connection, then its reconnections (fresh_connection_bench
//     --reconnect inside it).
// On a systemd desktop (as_systemd_user) each Flatpak runs in a scope of
// its own. Run it where no other helper holds port 9483.
#include "bench_support.h"
#include "support/flatpak_apps.h"

#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

namespace {

using namespace bench;

constexpr int kHelperPort = 9483;
constexpr int kFloodProcesses = 200;
constexpr int kFloodSeconds = 20;

struct Figures {
    std::vector<double> roundTrips;
    std::vector<double> freshConnections;
};

// A new process's first connection, until the welcome; nothing when
// refused. The child makes system calls only: the parent has threads.
std::optional<double> freshProcessConnects()
{
    int ends[2];
    if (pipe(ends) != 0)
        return std::nullopt;
    const pid_t child = fork();
    if (child == 0) {
        const auto started = Clock::now();
        const int fresh = connectTo(kHelperPort);
        char byte = 0;
        while (fresh >= 0 && read(fresh, &byte, 1) == 1 && byte != '\n') {
        }
        if (byte == '\n') {
            const double sample = microseconds(Clock::now() - started);
            (void)!write(ends[1], &sample, sizeof sample);
        }
        _exit(0);
    }
    close(ends[1]);
    double sample = 0;
    const bool read = ::read(ends[0], &sample, sizeof sample) == sizeof sample;
    close(ends[0]);
    waitpid(child, nullptr, 0);
    return read ? std::optional(sample) : std::nullopt;
}

// Round trips of a served client, and beside them a new process's
// connection every 100 ms, for as long as `going` says.
template<typename Going>
Figures measure(int served, Going going)
{
    Figures figures;
    std::atomic<bool> done { false };
    std::thread fresh([&] {
        while (!done) {
            if (auto sample = freshProcessConnects())
                figures.freshConnections.push_back(*sample);
            std::this_thread::sleep_for(100ms);
        }
    });
    std::string pending;
    while (going()) {
        const auto sent = Clock::now();
        if (write(served, "version\n", 8) != 8 || !readLine(served, pending))
            break;
        figures.roundTrips.push_back(microseconds(Clock::now() - sent));
        std::this_thread::sleep_for(5ms);
    }
    done = true;
    fresh.join();
    return figures;
}

void printFigures(const char* what, const std::vector<double>& samples)
{
    if (samples.empty()) {
        std::printf("  %-44s no samples\n", what);
        return;
    }
    const auto s = summarise(samples);
    const auto longest = *std::max_element(samples.begin(), samples.end());
    std::printf("  %-44s median %9.1f us  p90 %9.1f us  max %9.1f us  (%zu)\n", what, s.median, s.p90, longest, samples.size());
}

} // namespace

int main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN);
    testing_support::FlatpakApps apps;
    if (!apps.ready() || apps.sandboxRefusal()) {
        std::printf("Admission under a flood: no Flatpak sandbox here\n");
        return 0;
    }
    const char* other = "org.example.Other";
    const char* main = "com.Calderine.Ferrowind3";
    const auto flood = "exec /app/bin/sandbox_client flood 9483 \"$XDG_DATA_HOME/reply\" " + std::to_string(kFloodProcesses) + " " + std::to_string(kFloodSeconds);
    const auto reconnect = "exec /app/bin/fresh_connection_bench --reconnect 9483 9483 \"$XDG_DATA_HOME/samples\"";
    if (!apps.install(other, flood, { SANDBOX_CLIENT_PROGRAM }) || !apps.install(main, reconnect, { FRESH_CONNECTION_BENCH })) {
        std::printf("Admission under a flood: the applications did not install\n");
        return 1;
    }
    const pid_t helper = startHelper(argc > 1 ? argv[1] : HELPER_EXECUTABLE, kHelperPort);
    const int served = connectTo(kHelperPort);
    std::string welcome;
    readLine(served, welcome);

    const auto quietUntil = Clock::now() + 3s;
    const auto quiet = measure(served, [&] { return Clock::now() < quietUntil; });
    auto flooding = apps.start(other);
    std::this_thread::sleep_for(3s); // its processes and descriptors in place
    auto mainApp = apps.start(main);
    bool floodEnded = false;
    const auto during = measure(served, [&] { return !(floodEnded = floodEnded || flooding.reapWithin(0ms).has_value()); });
    mainApp.reapWithin(60s);

    std::printf("Admission while %s floods (%d processes x 2,000 descriptors, 32 connections at a time, %d s)\n", other, kFloodProcesses, kFloodSeconds);
    printFigures("served client's round trip, quiet", quiet.roundTrips);
    printFigures("served client's round trip, flood", during.roundTrips);
    printFigures("fresh host connection, quiet", quiet.freshConnections);
    printFigures("fresh host connection, flood", during.freshConnections);
    std::ifstream in(apps.dataFolder(main) / "samples", std::ios::binary);
    auto mainSamples = readSamples(in);
    if (mainSamples.empty()) {
        std::printf("  %-44s no samples\n", "main app in its Flatpak, flood");
    } else {
        std::printf("  %-44s %9.1f us\n", "main app's first connection, flood", mainSamples.front());
        mainSamples.erase(mainSamples.begin());
        printFigures("main app reconnecting, flood", mainSamples);
    }
    std::printf("  flood: %s\n", std::ifstream(apps.dataFolder(other) / "reply").good() ? "ran to its end" : "did not end");
    kill(helper, SIGTERM);
    waitpid(helper, nullptr, 0);
    return 0;
}
