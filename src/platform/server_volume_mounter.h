#pragma once

#include <optional>
#include <string>

namespace platform {

// Mounts a server volume from its URL without asking anyone anything: no
// user name, no password, no question. Blocks until the mount has succeeded
// or failed, within a bound of the implementation's.
class ServerVolumeMounter {
public:
    virtual ~ServerVolumeMounter() = default;

    // The local path of the mounted volume's root folder. A volume that is
    // already mounted answers its path. Nothing when the URL is refused, the
    // server cannot be reached or asks for credentials, the bound runs out,
    // or the volume has no local path.
    virtual std::optional<std::string> mountServerVolume(const std::string& url) = 0;
};

} // namespace platform
