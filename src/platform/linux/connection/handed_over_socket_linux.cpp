#include "platform/linux/connection/handed_over_socket.h"
#include "platform/linux_platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <string_view>

namespace platform {

namespace {

std::optional<long> numberIn(const char* variable)
{
    const char* text = std::getenv(variable);
    if (!text)
        return std::nullopt;
    std::string_view digits(text);
    long value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

int socketOption(int descriptor, int option)
{
    int value = -1;
    socklen_t length = sizeof value;
    return getsockopt(descriptor, SOL_SOCKET, option, &value, &length) == 0 ? value : -1;
}

// More than the process may have open is no announcement of real
// descriptors, and closing that many numbers could close what the process
// opened before main.
bool plausibleCount(long count)
{
    rlimit limit {};
    const auto most = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
        ? static_cast<long>(std::min<rlim_t>(limit.rlim_cur, INT_MAX))
        : long { INT_MAX };
    return count >= 1 && count <= most - linux_sockets::kFirstHandedOverDescriptor;
}

} // namespace

namespace linux_sockets {

std::optional<std::uint16_t> loopbackListeningPort(int descriptor)
{
    if (socketOption(descriptor, SO_DOMAIN) != AF_INET || socketOption(descriptor, SO_TYPE) != SOCK_STREAM
        || socketOption(descriptor, SO_PROTOCOL) != IPPROTO_TCP || socketOption(descriptor, SO_ACCEPTCONN) != 1)
        return std::nullopt;
    sockaddr_in address {};
    socklen_t length = sizeof address;
    if (getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0
        || address.sin_addr.s_addr != htonl(INADDR_LOOPBACK))
        return std::nullopt;
    return ntohs(address.sin_port);
}

} // namespace linux_sockets

// What sd_listen_fds(3) does: a LISTEN_PID other than ours means the
// variables were meant for another process (a parent that started us).
// Unlike it, the announced descriptors we do not take are closed: nothing
// else in the process will ever use them.
int takeHandedOverListeningSocket()
{
    const auto forProcess = numberIn("LISTEN_PID");
    const auto count = numberIn("LISTEN_FDS");
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_FDNAMES");
    if (!forProcess || *forProcess != getpid() || !count || !plausibleCount(*count))
        return -1;
    const int first = linux_sockets::kFirstHandedOverDescriptor;
    const int last = first + static_cast<int>(*count) - 1;
    // Only ever one from a helper; several come from something else. Checked
    // now, before anything of ours can open a descriptor of that number: an
    // announcement of a descriptor that is not open must not hand the
    // listener a file of ours to take over and close.
    const bool taken = *count == 1 && linux_sockets::loopbackListeningPort(first);
    close_range(static_cast<unsigned>(taken ? first + 1 : first), static_cast<unsigned>(last), 0);
    if (!taken)
        return -1;
    fcntl(first, F_SETFD, FD_CLOEXEC);
    return first;
}

} // namespace platform
