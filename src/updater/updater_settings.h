#pragma once

#include "platform/bundle.h"

#include <chrono>
#include <optional>
#include <string>

namespace updater {

// What the updater takes from the helper's own Info.plist, and nothing else.
struct UpdaterSettings {
    static constexpr std::chrono::seconds kDefaultCheckInterval { 86'400 };
    static constexpr std::chrono::seconds kShortestCheckInterval { 3'600 };
    // Beyond this a value is a mistake; left as it is, it would overflow
    // timers (a huge interval could wrap around to a few seconds).
    static constexpr std::chrono::seconds kLongestCheckInterval { 366 * 86'400 };

    std::optional<std::string> feedURL; // SUFeedURL
    std::optional<std::string> publicEDKey; // SUPublicEDKey, base64
    std::chrono::seconds checkInterval { kDefaultCheckInterval }; // SUScheduledCheckInterval
    std::string bundleIdentifier; // CFBundleIdentifier
    std::string bundleVersion; // CFBundleVersion
};

UpdaterSettings readUpdaterSettings(const platform::InfoDictionary& info);

} // namespace updater
