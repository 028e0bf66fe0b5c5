#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace updater {

// One <item> of a Sparkle appcast, as far as a silent updater needs it.
struct AppcastItem {
    std::string version;      // sparkle:version (element, else enclosure attribute)
    std::string shortVersion; // sparkle:shortVersionString, for the log only
    std::string url;          // enclosure url
    std::optional<std::uint64_t> length;      // enclosure length
    std::optional<std::string> edSignature;   // enclosure sparkle:edSignature
};

// The items of an RSS appcast that name a version and an enclosure URL;
// others are skipped. Nothing when the text is not XML or has no
// rss/channel. Namespace prefixes are matched as written ("sparkle:").
std::optional<std::vector<AppcastItem>> parseAppcast(std::string_view xml);

// The newest item strictly newer than the running version (version_order.h);
// of items with the same version the first in the feed wins.
std::optional<AppcastItem> newestItemNewerThan(const std::vector<AppcastItem>& items, std::string_view runningVersion);

} // namespace updater
