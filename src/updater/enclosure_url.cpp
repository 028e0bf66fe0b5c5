#include "updater/enclosure_url.h"

#include "updater/adapters/url_parsing.h"

#include <algorithm>
#include <cctype>

namespace updater {

namespace {

std::string withBlanksEncoded(std::string_view text)
{
    std::string encoded;
    for (char c : text) {
        if (c == ' ')
            encoded += "%20";
        else
            encoded += c;
    }
    return encoded;
}

} // namespace

std::string resolveEnclosureURL(std::string_view enclosure, std::string_view feedURL)
{
    const std::string relative = withBlanksEncoded(enclosure);
    const std::string base(feedURL);
    const bool haveBase = !base.empty() && isReadableURL(base);
    // No feed to resolve against: only an absolute URL can be read.
    if (!haveBase && schemeOf(relative).empty())
        return {};
    return readURL(relative, haveBase ? base : std::string()).value_or("");
}

std::string schemeOf(std::string_view url)
{
    const auto colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return {};
    std::string scheme(url.substr(0, colon));
    const bool valid = std::isalpha(static_cast<unsigned char>(scheme.front()))
        && std::all_of(scheme.begin(), scheme.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
           });
    if (!valid)
        return {};
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return scheme;
}

} // namespace updater
