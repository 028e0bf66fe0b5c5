#include "platform/linux/connection/reply_writing.h"

#include <sys/socket.h>

namespace platform::linux_sockets {

bool writeLineWithoutWaiting(int descriptor, std::string_view line)
{
    auto written = send(descriptor, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return written == static_cast<ssize_t>(line.size());
}

} // namespace platform::linux_sockets
