#include "operations/non_sandboxable_functions.h"

#include <string_view>

namespace {

// Local volumes have file URLs, which name no server to mount from.
constexpr std::string_view kLocalVolumeScheme = "file://";

} // namespace

std::optional<std::string> NonSandboxableFunctions::getVolumeMountURL(OperationsPlatform& platform, const std::string& path)
{
    // An empty path names no item; the system would resolve it against the
    // helper's working folder instead.
    if (path.empty())
        return std::nullopt;
    auto url = platform.volumeURLs.urlOfVolumeHolding(path);
    if (!url || url->starts_with(kLocalVolumeScheme))
        return std::nullopt;
    return url;
}

std::optional<std::string> NonSandboxableFunctions::mountVolumeWithMountURL(OperationsPlatform& platform, const std::string& mountURL)
{
    if (mountURL.empty())
        return std::nullopt;
    return platform.volumeMounter.mountServerVolume(mountURL);
}
