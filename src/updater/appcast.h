#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace updater {

// One <item> of a Sparkle appcast, as far as a silent updater needs it.
struct AppcastItem {
    std::string version {}; // sparkle:version (enclosure attribute, else element)
    std::string shortVersion {}; // sparkle:shortVersionString, for the log only
    // The enclosure's URL resolved against the feed's; empty when the item
    // has no enclosure or the URL cannot be read.
    std::string url {};
    std::optional<std::uint64_t> length {}; // enclosure length
    std::optional<std::string> edSignature {}; // enclosure sparkle:edSignature
    std::optional<std::string> os {}; // enclosure sparkle:os
    std::optional<std::string> channel {}; // sparkle:channel; none: the default channel
    bool isDelta { false }; // the enclosure has sparkle:deltaFrom
    // sparkle:informationalUpdate: nullopt when absent; an empty list means
    // informational for every running version, else exact versions and
    // "<VERSION" for every version below it. No enclosure counts as empty.
    std::optional<std::vector<std::string>> informationalFor {};
    std::optional<std::string> minimumAutoupdateVersion {};
    std::optional<std::int64_t> phasedRolloutInterval {}; // seconds
    std::optional<std::int64_t> publishedAt {}; // pubDate, seconds since the epoch
    // sparkle:criticalUpdate (or the older tag form): critical for running
    // versions below `criticalBelow`, or for all when that is empty.
    bool hasCriticalMark { false };
    std::optional<std::string> criticalBelow {};
};

struct AppcastReading {
    std::optional<std::vector<AppcastItem>> items; // nullopt: refused
    std::string failure; // why, when refused
};

// The items of an RSS appcast that name a version. Sparkle's elements and
// attributes are known by their namespace URI, whatever the prefix bound
// to it. Refused: text that is not XML or has no rss/channel, and a feed
// fetched over http(s) that points an enclosure at anything but http(s) —
// a feed must never make the updater read local files.
AppcastReading readAppcast(std::string_view xml, std::string_view feedURL);

inline std::optional<std::vector<AppcastItem>> parseAppcast(std::string_view xml) { return readAppcast(xml, {}).items; }

} // namespace updater
