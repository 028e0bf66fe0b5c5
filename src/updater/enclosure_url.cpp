#include "updater/enclosure_url.h"

#include <algorithm>
#include <cctype>
#include <curl/curl.h>
#include <memory>

namespace updater {

namespace {

struct UrlHandleDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};

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

// Schemes curl cannot fetch still resolve, so that the caller can refuse
// them by name rather than lose them silently.
constexpr unsigned kAnyScheme = CURLU_NON_SUPPORT_SCHEME;

} // namespace

std::string resolveEnclosureURL(std::string_view enclosure, std::string_view feedURL)
{
    const std::string relative = withBlanksEncoded(enclosure);
    std::unique_ptr<CURLU, UrlHandleDeleter> url(curl_url());
    if (!url)
        return {};
    const std::string base(feedURL);
    const bool haveBase = !base.empty() && curl_url_set(url.get(), CURLUPART_URL, base.c_str(), kAnyScheme) == CURLUE_OK;
    if (!haveBase) {
        // No feed to resolve against: only an absolute URL can be read.
        if (schemeOf(relative).empty())
            return {};
    }
    if (curl_url_set(url.get(), CURLUPART_URL, relative.c_str(), kAnyScheme) != CURLUE_OK)
        return {};
    char* text = nullptr;
    if (curl_url_get(url.get(), CURLUPART_URL, &text, 0) != CURLUE_OK)
        return {};
    std::string resolved(text);
    curl_free(text);
    return resolved;
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
