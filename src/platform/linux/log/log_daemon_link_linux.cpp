#include "platform/linux/log/log_daemon_link.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

// Datagrams per sendmmsg call.
constexpr std::size_t kBatch = 64;
// How long a line may wait for room at a daemon that is behind.
constexpr int kRoomWaitMilliseconds = 100;

} // namespace

LogDaemonLink::LogDaemonLink(std::string socketPath)
    : m_socketPath(std::move(socketPath))
{
}

LogDaemonLink::~LogDaemonLink()
{
    int socket = m_socket.exchange(-1);
    if (socket >= 0)
        close(socket);
}

bool LogDaemonLink::mayListen()
{
    const auto now = std::chrono::steady_clock::now();
    if (now >= m_nextLookFor) {
        m_socketExists = access(m_socketPath.c_str(), F_OK) == 0;
        m_nextLookFor = now + std::chrono::seconds(1);
    }
    return m_socketExists;
}

void LogDaemonLink::send(const iovec* lines, std::size_t count) noexcept
{
    int socket = connected();
    const std::size_t done = socket >= 0 ? sendThrough(socket, lines, count) : count;
    if (done < count && (socket = reconnected()) >= 0)
        sendThrough(socket, lines + done, count - done);
}

void LogDaemonLink::sendFromSignalHandler(const iovec* lines, std::size_t count) noexcept
{
    const int own = newConnection();
    if (own >= 0) {
        sendThrough(own, lines, count);
        close(own);
    } else if (const int shared = m_socket.load(); shared >= 0) {
        sendThrough(shared, lines, count);
    }
}

std::size_t LogDaemonLink::sendThrough(int socket, const iovec* lines, std::size_t count) noexcept
{
    std::size_t done = 0;
    while (done < count) {
        mmsghdr messages[kBatch] {};
        const std::size_t batch = std::min(kBatch, count - done);
        for (std::size_t i = 0; i < batch; ++i) {
            messages[i].msg_hdr.msg_iov = const_cast<iovec*>(&lines[done + i]);
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int sent = sendmmsg(socket, messages, static_cast<unsigned>(batch), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
            done += static_cast<std::size_t>(sent);
            m_daemonBehind.store(false, std::memory_order_relaxed);
        } else if (errno == EAGAIN) {
            if (!waitForRoom(socket))
                return count;
        } else if (errno == EMSGSIZE) {
            ++done;
        } else if (errno != EINTR) {
            return done;
        }
    }
    return done;
}

bool LogDaemonLink::waitForRoom(int socket) noexcept
{
    if (m_daemonBehind.load(std::memory_order_relaxed))
        return false;
    pollfd entry { socket, POLLOUT, 0 };
    if (poll(&entry, 1, kRoomWaitMilliseconds) > 0)
        return true;
    m_daemonBehind.store(true, std::memory_order_relaxed);
    return false;
}

int LogDaemonLink::connected() noexcept
{
    const int current = m_socket.load();
    if (current >= 0)
        return current;
    const int socket = newConnection();
    m_socket.store(socket);
    return socket;
}

int LogDaemonLink::newConnection() const noexcept
{
    const int socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, m_socketPath.c_str(), sizeof address.sun_path - 1);
    if (socket >= 0 && connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(socket);
        return -1;
    }
    return socket;
}

int LogDaemonLink::reconnected() noexcept
{
    int stale = m_socket.exchange(-1);
    if (stale >= 0)
        close(stale);
    return connected();
}

} // namespace platform
