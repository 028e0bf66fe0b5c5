#pragma once

#include "support/outcome.h"

#include <cstdint>
#include <string>

namespace updater {

// Limits on what one update may unpack to, so that a small archive cannot
// fill the disk.
struct UnpackLimits {
    std::uint64_t maxTotalBytes { std::uint64_t { 1 } << 30 };
    std::uint64_t maxEntries { 100'000 };
};

// Unpacks a tar (plain, gzip or xz) or zip archive into `destination`, an
// empty folder. The whole archive is refused at its first entry with an
// absolute path, a ".." component, a link that leads out of the folder, a
// path through a link, a type other than file, folder or link, or a
// duplicate path. Set-id bits are dropped. On failure part of the archive
// may be on disk: the caller throws the folder away.
support::Outcome<void> unpackArchive(const std::string& archivePath, const std::string& destination, UnpackLimits limits = {});

} // namespace updater
