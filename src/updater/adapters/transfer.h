#pragma once

#include "support/outcome.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace updater {

// Fetches a URL (http, https or file; redirects only to http and https) and
// hands the bytes to `sink` as they arrive; the URL they came from after
// redirects. Fails as soon as more than `maxBytes` arrive or are announced,
// on a stalled connection, or when the sink returns false. Blocks: call it
// off the main thread.
support::Outcome<std::string> transfer(const std::string& url, std::uint64_t maxBytes,
    const std::function<bool(std::string_view)>& sink);

} // namespace updater
