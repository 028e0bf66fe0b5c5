#pragma once

// Timing and loopback client pieces the benchmarks share.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline double microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

struct Summary {
    double median;
    double p99;
    double p90;
    // Work left for later shows here rather than in the median.
    double mean;
};

inline Summary summarise(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    double total = 0;
    for (double sample : samples)
        total += sample;
    return { samples[samples.size() / 2], samples[samples.size() * 99 / 100], samples[samples.size() * 9 / 10],
        total / static_cast<double>(samples.size()) };
}

// Round trips on a virtual machine are steady only when client and server
// share a CPU: a wake-up across CPUs there costs more than the whole round
// trip, and more in one run than in the next. Children inherit the CPU.
inline void pinTo(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

inline int connectTo(int port)
{
    int descriptor = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return descriptor;
    close(descriptor);
    return -1;
}

// Reads one line, kept in `line` when given; the helper answers each command
// with exactly one.
inline bool readLine(int descriptor, std::string& pending, std::string* line = nullptr)
{
    for (;;) {
        if (auto end = pending.find('\n'); end != std::string::npos) {
            if (line)
                line->assign(pending, 0, end);
            pending.erase(0, end + 1);
            return true;
        }
        char buffer[256];
        auto count = read(descriptor, buffer, sizeof buffer);
        if (count <= 0)
            return false;
        pending.append(buffer, static_cast<std::size_t>(count));
    }
}

// Lists of samples in a file, each after its length: what a benchmark's
// client inside a sandbox hands back.
inline void writeSamples(std::ostream& out, const std::vector<double>& samples)
{
    const auto count = samples.size();
    out.write(reinterpret_cast<const char*>(&count), sizeof count);
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(count * sizeof(double)));
}

inline std::vector<double> readSamples(std::istream& in)
{
    std::size_t count = 0;
    in.read(reinterpret_cast<char*>(&count), sizeof count);
    std::vector<double> samples(in ? count : 0);
    in.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * sizeof(double)));
    return samples;
}

// Starts the helper at `executable` and returns once it answers on `port`;
// ends the benchmark when it does not within 10 s.
inline pid_t startHelper(const char* executable, int port)
{
    const pid_t pid = fork();
    if (pid == 0) {
        execl(executable, executable, static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto deadline = Clock::now() + 10s;
    int descriptor;
    while ((descriptor = connectTo(port)) < 0) {
        if (Clock::now() > deadline) {
            std::fprintf(stderr, "the helper did not answer; is port %d free?\n", port);
            std::exit(1);
        }
        std::this_thread::sleep_for(1ms);
    }
    close(descriptor);
    return pid;
}

} // namespace bench
