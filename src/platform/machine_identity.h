#pragma once

#include <string>

namespace platform {

// A stable identifier of this machine (systemd's machine id), empty when
// the system has none. Not secret, but not to be shown or sent anywhere.
std::string machineIdentifier();

} // namespace platform
