#include "updater/adapters/http_date.h"

#include <curl/curl.h>

namespace updater {

std::optional<std::int64_t> secondsSinceEpochOfDate(const std::string& date)
{
    const time_t seconds = curl_getdate(date.c_str(), nullptr);
    return seconds == -1 ? std::nullopt : std::optional<std::int64_t>(seconds);
}

} // namespace updater
