#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace updater {

struct TransferOutcome {
    bool succeeded { false };
    // Why it failed, for the log.
    std::string failure;
    // Where the bytes came from after redirects.
    std::string finalURL {};
};

// Fetches a URL (http, https or file; redirects only to http and https) and
// hands the bytes to `sink` as they arrive. Fails as soon as more than
// `maxBytes` arrive or are announced, on a stalled connection, or when the
// sink returns false. Blocks: call it off the main thread.
TransferOutcome transfer(const std::string& url, std::uint64_t maxBytes, const std::function<bool(std::string_view)>& sink);

} // namespace updater
