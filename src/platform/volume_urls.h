#pragma once

#include <optional>
#include <string>

namespace platform {

// Where the volume that holds a file came from, as a URL: the server share
// of a network volume, the file:// URL of a local one's mount point.
class VolumeURLs {
public:
    virtual ~VolumeURLs() = default;

    // Nothing when `path` names no existing item, or its volume cannot be
    // found or given a URL.
    virtual std::optional<std::string> urlOfVolumeHolding(const std::string& path) const = 0;
};

} // namespace platform
