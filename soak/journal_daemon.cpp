#include "soak/journal_daemon.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string_view>

namespace soak {

namespace {

// Now and then the daemon stops reading for a while, as journald does when
// it rotates its files or the disk is slow: the helper's lines wait in the
// socket's queue and, when that is full, in the helper. Each pause is shorter
// than the helper waits for room, so none may be lost.
constexpr auto kBetweenPauses = 5s;
constexpr auto kPause = 80ms;

// What journald asks of the system: room for 512 datagrams in a socket's
// queue rather than the kernel's 10.
void raiseDatagramQueue()
{
    if (FILE* setting = std::fopen("/proc/sys/net/unix/max_dgram_qlen", "w")) {
        std::fputs("512", setting);
        std::fclose(setting);
    }
}

// The native protocol: fields of KEY=VALUE lines, or, for a value that holds
// a line break, KEY, a line break, its length as 64 bits little-endian, the
// value and a line break.
std::string_view field(std::string_view datagram, std::string_view key)
{
    std::size_t at = 0;
    while (at < datagram.size()) {
        const auto end = datagram.find('\n', at);
        if (end == std::string_view::npos)
            return {};
        const auto entry = datagram.substr(at, end - at);
        if (const auto equals = entry.find('='); equals != std::string_view::npos) {
            if (entry.substr(0, equals) == key)
                return entry.substr(equals + 1);
            at = end + 1;
            continue;
        }
        std::uint64_t length = 0;
        if (end + 1 + sizeof length > datagram.size())
            return {};
        std::memcpy(&length, datagram.data() + end + 1, sizeof length);
        const std::size_t valueAt = end + 1 + sizeof length;
        if (length > datagram.size() - valueAt)
            return {};
        if (entry == key)
            return datagram.substr(valueAt, length);
        at = valueAt + length + 1;
    }
    return {};
}

} // namespace

JournalDaemon::JournalDaemon(std::string socketPath)
    : m_path(std::move(socketPath))
{
    raiseDatagramQueue();
    m_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, m_path.c_str(), sizeof address.sun_path - 1);
    unlink(m_path.c_str());
    if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot listen at " + m_path);
    int room = 8 << 20;
    setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    m_reader = std::thread([this] { receive(); });
}

JournalDaemon::~JournalDaemon()
{
    m_stop = true;
    m_reader.join();
    close(m_socket);
    unlink(m_path.c_str());
}

void JournalDaemon::receive()
{
    std::vector<char> buffer(256 * 1024);
    auto nextPause = Clock::now() + kBetweenPauses;
    while (!m_stop) {
        if (Clock::now() >= nextPause) {
            std::this_thread::sleep_for(kPause);
            ++m_pauses;
            nextPause = Clock::now() + kBetweenPauses;
        }
        pollfd entry { m_socket, POLLIN, 0 };
        if (poll(&entry, 1, 50) <= 0)
            continue;
        const auto length = recv(m_socket, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (length > 0)
            take(buffer.data(), static_cast<std::size_t>(length));
    }
}

void JournalDaemon::take(const char* datagram, std::size_t length)
{
    const std::string_view text(datagram, length);
    const auto pid = field(text, "SYSLOG_PID");
    const std::lock_guard lock(m_mutex);
    m_lines.push_back({ std::atoi(std::string(pid).c_str()), std::string(field(text, "MESSAGE")) });
    m_lastReceived = Clock::now().time_since_epoch().count();
}

std::vector<JournalDaemon::Line> JournalDaemon::lines() const
{
    const std::lock_guard lock(m_mutex);
    return m_lines;
}

void JournalDaemon::waitForQuiet(Clock::duration quiet) const
{
    while (Clock::now() - Clock::time_point(Clock::duration(m_lastReceived.load())) < quiet)
        std::this_thread::sleep_for(100ms);
}

} // namespace soak
