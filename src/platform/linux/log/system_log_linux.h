#pragma once

#include "platform/system_log.h"

#include <memory>
#include <string>

namespace platform {

// The log makeSystemLog makes, sending to the daemon socket given rather
// than /dev/log; for tests. echoToStderr: every line goes to standard error
// too, as it is written.
std::unique_ptr<SystemLog> makeSystemLogSendingTo(const std::string& ident, const std::string& daemonSocket, bool echoToStderr);

} // namespace platform
