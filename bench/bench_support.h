#pragma once

// Timing and loopback client pieces the benchmarks share.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
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
};

inline Summary summarise(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return { samples[samples.size() / 2], samples[samples.size() * 99 / 100], samples[samples.size() * 9 / 10] };
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

} // namespace bench
