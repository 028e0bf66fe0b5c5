#pragma once

#include "platform/system_log.h"

#include <memory>
#include <string>

namespace platform {

// How lines reach the daemon: as syslog(3) sends them, or as journald's
// native clients do.
enum class LogDaemonProtocol { syslog,
    journal };

// The log makeSystemLog makes, sending to the daemon socket given rather
// than journald's or /dev/log; for tests. echoToStderr: every line goes to
// standard error too, as it is written.
std::unique_ptr<SystemLog> makeSystemLogSendingTo(
    const std::string& ident, const std::string& daemonSocket, LogDaemonProtocol protocol, bool echoToStderr);

} // namespace platform
