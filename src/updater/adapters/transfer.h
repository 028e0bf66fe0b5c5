#pragma once

#include "support/outcome.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace updater {

// How long a transfer may take. A server that trickles bytes holds the
// updater (one check at a time) as surely as one that is gone, so both the
// rate and the whole time are bounded.
struct TransferBounds {
    // The whole transfer, redirects included.
    std::chrono::milliseconds whole;
    // Fails once fewer bytes than this arrive per second for `slowFor`.
    long slowestBytesPerSecond;
    std::chrono::seconds slowFor;
};

// Any real line, however poor or crowded, moves far more than this in half
// a minute; a server that drips bytes to keep the connection open does not.
// Sparkle's downloader gives up after 30 seconds without data as well.
inline constexpr long kTrickleBytesPerSecond = 512;
inline constexpr std::chrono::seconds kTrickleWindow { 30 };

struct TransferRequest {
    std::string url;
    // Fails as soon as more arrive or are announced.
    std::uint64_t maxBytes;
    TransferBounds bounds;
    // Fetches and follows redirects to https only: what the vendor
    // published over https must not be read or held back on the way.
    bool httpsOnly { false };
};

// Fetches a URL (http, https or file; redirects only to http and https, or
// to https alone) and hands the bytes to `sink` as they arrive; the URL they
// came from after redirects. Fails on a stalled or trickling connection,
// past the time bound, or when the sink returns false; the failure names
// the URL it happened at (the last hop) and, for an HTTP error, the status.
// Blocks: call it off the main thread.
support::Outcome<std::string> transfer(const TransferRequest& request, const std::function<bool(std::string_view)>& sink);

} // namespace updater
