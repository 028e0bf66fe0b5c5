// /proc/net/tcp text, the fallback source of socket owners.
#include "platform/linux/connection/proc_net_tcp.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view table(reinterpret_cast<const char*>(data), size);
    (void)platform::linux_sockets::findTcpSocket(table, { 0x0100007F, 0xD431 }, { 0x0100007F, 9483 });
    return 0;
}
