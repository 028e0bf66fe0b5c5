#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <sys/uio.h>

namespace platform {

// The datagram socket to the log daemon: journald's own, or /dev/log where
// only a syslog daemon such as rsyslog listens. Connected on first use, and once more when the daemon has
// restarted and listens on a socket of its own.
class LogDaemonLink {
public:
    explicit LogDaemonLink(std::string socketPath);
    ~LogDaemonLink();
    LogDaemonLink(const LogDaemonLink&) = delete;
    LogDaemonLink& operator=(const LogDaemonLink&) = delete;

    // Whether a daemon's socket is there. Without one, lines are lost
    // whatever we do, and trying to connect for each would cost more than
    // a command; so it is looked for at most once a second, and a daemon
    // that starts later is found then.
    bool mayListen();

    // Each line one datagram, in order, many to a system call. A daemon
    // that falls behind is waited for briefly; once it has let a wait run
    // out, lines it has no room for are dropped until it takes one again,
    // so a stuck daemon never holds the caller up. One thread at a time.
    void send(const iovec* lines, std::size_t count) noexcept;

    // As send, from a signal handler, while another thread may be sending
    // too: through a socket of its own, since that thread may close the
    // shared one (which is then left alone here) and its number be reused.
    // The shared one serves only where no other can be had.
    void sendFromSignalHandler(const iovec* lines, std::size_t count) noexcept;

private:
    int connected() noexcept;
    int reconnected() noexcept;
    int newConnection() const noexcept;
    // How many of `lines` went or were dropped before `socket` failed.
    std::size_t sendThrough(int socket, const iovec* lines, std::size_t count) noexcept;
    bool waitForRoom(int socket) noexcept;

    const std::string m_socketPath;
    std::atomic<int> m_socket { -1 };
    std::atomic<bool> m_daemonBehind { false };
    std::chrono::steady_clock::time_point m_nextLookFor {};
    bool m_socketExists { false };
};

} // namespace platform
