#include "updater/archive_unpacking.h"

#include "updater/adapters/archive_extraction.h"

#include <filesystem>
#include <string_view>
#include <vector>

namespace updater {

namespace {

using support::failure;
using Kind = ArchiveEntry::Kind;

std::vector<std::string_view> components(std::string_view path)
{
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        auto slash = path.find('/');
        auto part = path.substr(0, slash);
        if (!part.empty() && part != ".")
            parts.push_back(part);
        if (slash == std::string_view::npos)
            break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

bool isContainedRelativePath(std::string_view path)
{
    if (path.empty() || path.front() == '/')
        return false;
    for (auto part : components(path)) {
        if (part == "..")
            return false;
    }
    return !components(path).empty();
}

// Resolves the link text against the folder holding the link, by name
// alone; links inside the archive cannot be followed through because paths
// through links are refused as they are written.
bool linkStaysInside(std::string_view linkPath, std::string_view target)
{
    if (target.empty() || target.front() == '/')
        return false;
    auto resolved = components(linkPath);
    resolved.pop_back();
    for (auto part : components(target)) {
        if (part != "..")
            resolved.push_back(part);
        else if (resolved.empty())
            return false;
        else
            resolved.pop_back();
    }
    return true;
}

std::string checkEntry(const ArchiveEntry& entry)
{
    if (!entry.path || !isContainedRelativePath(*entry.path))
        return "refused path " + entry.path.value_or("(none)");
    const std::string& pathname = *entry.path;
    if (entry.hardLinkTarget && !isContainedRelativePath(*entry.hardLinkTarget))
        return "refused hard link to " + *entry.hardLinkTarget;
    if (entry.hardLinkTarget)
        return {};
    if (entry.kind == Kind::SymbolicLink) {
        if (!entry.symbolicLinkTarget || !linkStaysInside(pathname, *entry.symbolicLinkTarget))
            return "refused link " + pathname + " -> " + entry.symbolicLinkTarget.value_or("(none)");
        return {};
    }
    if (entry.kind != Kind::File && entry.kind != Kind::Folder)
        return "refused special file " + pathname;
    return {};
}

class Unpacker {
public:
    Unpacker(ArchiveExtraction& extraction, std::string destination, UnpackLimits limits)
        : m_extraction(extraction)
        , m_destination(std::move(destination))
        , m_limits(limits)
    {
    }

    support::Outcome<void> run()
    {
        for (;;) {
            auto entry = m_extraction.nextEntry();
            if (!entry)
                return failure("unreadable archive: " + entry.failure());
            if (!*entry)
                break;
            if (++m_entries > m_limits.maxEntries)
                return failure("too many entries");
            if (auto refusal = checkEntry(**entry); !refusal.empty())
                return failure(refusal);
            if (auto written = writeEntry(**entry); !written)
                return written;
        }
        if (auto finished = m_extraction.finish(); !finished)
            return failure("cannot finish unpacking: " + finished.failure());
        if (m_entries == 0)
            return failure("empty archive");
        return {};
    }

private:
    support::Outcome<void> writeEntry(const ArchiveEntry& entry)
    {
        const std::string& pathname = *entry.path;
        ArchiveEntry placed = entry;
        placed.path = m_destination + "/" + pathname;
        if (entry.hardLinkTarget)
            placed.hardLinkTarget = m_destination + "/" + *entry.hardLinkTarget;
        placed.permissions = entry.permissions & 0777;
        if (auto started = m_extraction.writeEntry(placed); !started)
            return failure("cannot unpack " + pathname + ": " + started.failure());
        if (auto copied = copyData(pathname); !copied)
            return copied;
        if (auto finished = m_extraction.finishEntry(); !finished)
            return failure("cannot unpack " + pathname + ": " + finished.failure());
        return {};
    }

    support::Outcome<void> copyData(const std::string& pathname)
    {
        for (;;) {
            auto block = m_extraction.nextBlock();
            if (!block)
                return failure("unreadable entry " + pathname + ": " + block.failure());
            if (!*block)
                return {};
            const std::size_t size = (*block)->bytes.size();
            if (size > m_limits.maxTotalBytes - m_totalBytes)
                return failure("unpacks to more than " + std::to_string(m_limits.maxTotalBytes) + " bytes");
            m_totalBytes += size;
            if (auto written = m_extraction.writeBlock(**block); !written)
                return failure("cannot write " + pathname + ": " + written.failure());
        }
    }

    ArchiveExtraction& m_extraction;
    std::string m_destination;
    UnpackLimits m_limits;
    std::uint64_t m_entries { 0 };
    std::uint64_t m_totalBytes { 0 };
};

} // namespace

support::Outcome<void> unpackArchive(const std::string& archivePath, const std::string& destination, UnpackLimits limits)
{
    // Symbolic links are refused on every component of the paths written,
    // so a link among the destination's own folders (a linked home, say)
    // must be resolved first.
    std::error_code error;
    const auto resolvedDestination = std::filesystem::canonical(destination, error);
    if (error)
        return failure("cannot find the folder to unpack into");
    auto extraction = openArchiveExtraction(archivePath);
    if (!extraction)
        return failure("cannot open the archive");
    return Unpacker(*extraction, resolvedDestination.string(), limits).run();
}

} // namespace updater
