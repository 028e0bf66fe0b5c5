#pragma once

// journald's native socket, where the helper of a systemd desktop sends its
// log, read by a daemon of the soak's own that falls behind now and then.

#include "soak/soak_world.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace soak {

class JournalDaemon {
public:
    struct Line {
        int pid;
        std::string message;
    };

    explicit JournalDaemon(std::string socketPath);
    ~JournalDaemon();
    JournalDaemon(const JournalDaemon&) = delete;
    JournalDaemon& operator=(const JournalDaemon&) = delete;

    std::vector<Line> lines() const;
    long pauses() const { return m_pauses.load(); }
    // Returns once nothing has come for `quiet`.
    void waitForQuiet(Clock::duration quiet) const;

private:
    void receive();
    void take(const char* datagram, std::size_t length);

    std::string m_path;
    int m_socket { -1 };
    std::atomic<bool> m_stop { false };
    std::atomic<long> m_pauses { 0 };
    std::atomic<Clock::rep> m_lastReceived { 0 };
    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
    std::thread m_reader;
};

} // namespace soak
