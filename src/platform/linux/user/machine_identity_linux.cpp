#include "platform/machine_identity.h"

#include <fstream>

namespace platform {

std::string machineIdentifier()
{
    // Systems without systemd often still have D-Bus's copy.
    for (const char* path : { "/etc/machine-id", "/var/lib/dbus/machine-id" }) {
        std::ifstream file(path);
        std::string identifier;
        if (std::getline(file, identifier) && !identifier.empty())
            return identifier;
    }
    return {};
}

} // namespace platform
