#pragma once

#include <string>
#include <string_view>

namespace updater {

// An enclosure URL as Sparkle reads it: raw blanks percent-encoded, then
// resolved against the feed's URL (a relative URL names a file beside the
// feed). Empty when it cannot be read as a URL.
std::string resolveEnclosureURL(std::string_view enclosure, std::string_view feedURL);

// The scheme in lower case ("https"), empty when there is none.
std::string schemeOf(std::string_view url);

inline bool isWebURL(std::string_view url)
{
    auto scheme = schemeOf(url);
    return scheme == "http" || scheme == "https";
}

} // namespace updater
