#include "platform/linux/connection/proc_net_tcp.h"

#include <cstdio>
#include <string>

namespace platform::linux_sockets {

namespace {

struct TcpLine {
    TcpEndpoint local;
    TcpEndpoint remote;
    TcpSocketOwner owner;
};

// "sl local rem st tx:rx tr:when retrnsmt uid timeout inode ...", addresses
// as the kernel's 32-bit value in hexadecimal and ports in hexadecimal.
std::optional<TcpLine> parseLine(const std::string& line)
{
    unsigned localAddress = 0, localPort = 0, remoteAddress = 0, remotePort = 0, uid = 0;
    unsigned long inode = 0;
    int fields = std::sscanf(line.c_str(), " %*s %8X:%4X %8X:%4X %*s %*s %*s %*s %u %*s %lu", &localAddress,
        &localPort, &remoteAddress, &remotePort, &uid, &inode);
    if (fields != 6)
        return std::nullopt;
    return TcpLine { { localAddress, static_cast<std::uint16_t>(localPort) },
        { remoteAddress, static_cast<std::uint16_t>(remotePort) },
        { static_cast<uid_t>(uid), static_cast<ino_t>(inode) } };
}

bool same(TcpEndpoint a, TcpEndpoint b) { return a.address == b.address && a.port == b.port; }

} // namespace

std::optional<TcpSocketOwner> findTcpSocket(std::string_view table, TcpEndpoint local, TcpEndpoint remote)
{
    while (!table.empty()) {
        auto end = table.find('\n');
        auto line = parseLine(std::string(table.substr(0, end)));
        table = end == std::string_view::npos ? std::string_view() : table.substr(end + 1);
        if (line && same(line->local, local) && same(line->remote, remote))
            return line->owner;
    }
    return std::nullopt;
}

} // namespace platform::linux_sockets
