#include "updater/adapters/url_parsing.h"
#include "support/owned_by.h"

#include <curl/curl.h>
#include <memory>

namespace updater {

namespace {

using UrlHandle = support::OwnedBy<CURLU, curl_url_cleanup>;

constexpr unsigned kAnyScheme = CURLU_NON_SUPPORT_SCHEME;

bool setURL(CURLU* handle, const std::string& text)
{
    return curl_url_set(handle, CURLUPART_URL, text.c_str(), kAnyScheme) == CURLUE_OK;
}

} // namespace

bool isReadableURL(const std::string& text)
{
    UrlHandle url(curl_url());
    return url && setURL(url.get(), text);
}

std::optional<std::string> readURL(const std::string& reference, const std::string& base)
{
    UrlHandle url(curl_url());
    if (!url)
        return std::nullopt;
    if (!base.empty() && !setURL(url.get(), base))
        return std::nullopt;
    if (!setURL(url.get(), reference))
        return std::nullopt;
    char* text = nullptr;
    if (curl_url_get(url.get(), CURLUPART_URL, &text, 0) != CURLUE_OK)
        return std::nullopt;
    std::string written(text);
    curl_free(text);
    return written;
}

} // namespace updater
