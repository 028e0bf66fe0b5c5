#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace updater {

// A date as HTTP and RSS write it ("Wed, 09 Oct 2024 12:00:00 +0000" and
// the older forms), in seconds since the epoch; nothing when unreadable.
std::optional<std::int64_t> secondsSinceEpochOfDate(const std::string& date);

} // namespace updater
