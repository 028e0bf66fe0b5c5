#pragma once

#include "support/outcome.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace updater {

// One entry of an archive as it is written in it; nothing is checked.
struct ArchiveEntry {
    enum class Kind { File,
        Folder,
        SymbolicLink,
        Other };
    std::optional<std::string> path;
    std::optional<std::string> hardLinkTarget;
    std::optional<std::string> symbolicLinkTarget;
    Kind kind { Kind::Other };
    unsigned permissions { 0 };
};

struct DataBlock {
    std::span<const std::byte> bytes;
    std::int64_t offset { 0 };
};

// Reads a tar (plain, gzip or xz) or zip archive entry by entry and writes
// the entries it is given to disk, with their times and permissions,
// never through a symbolic link, never over an existing file. Failures
// carry the library's own words.
class ArchiveExtraction {
public:
    virtual ~ArchiveExtraction() = default;

    // Nothing at the end of the archive.
    virtual support::Outcome<std::optional<ArchiveEntry>> nextEntry() = 0;
    // Starts writing the entry last read, at the absolute paths `placed`
    // gives it and with its permissions.
    virtual support::Outcome<void> writeEntry(const ArchiveEntry& placed) = 0;
    // The entry's data block by block; nothing after the last.
    virtual support::Outcome<std::optional<DataBlock>> nextBlock() = 0;
    virtual support::Outcome<void> writeBlock(const DataBlock& block) = 0;
    virtual support::Outcome<void> finishEntry() = 0;
    virtual support::Outcome<void> finish() = 0;
};

// Nothing when the archive cannot be opened.
std::unique_ptr<ArchiveExtraction> openArchiveExtraction(const std::string& archivePath);

} // namespace updater
