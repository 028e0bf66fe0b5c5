#include "updater/archive_unpacking.h"

#include <archive.h>
#include <archive_entry.h>

#include <filesystem>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace updater {

namespace {

using Reader = std::unique_ptr<archive, decltype(&archive_read_free)>;
using Writer = std::unique_ptr<archive, decltype(&archive_write_free)>;

constexpr std::size_t kReadBlockSize = 64 * 1024;

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

std::string checkEntry(archive_entry* entry)
{
    const char* pathname = archive_entry_pathname(entry);
    if (!pathname || !isContainedRelativePath(pathname))
        return std::string("refused path ") + (pathname ? pathname : "(none)");
    const char* hardlink = archive_entry_hardlink(entry);
    if (hardlink && !isContainedRelativePath(hardlink))
        return std::string("refused hard link to ") + hardlink;
    const auto type = archive_entry_filetype(entry);
    if (hardlink)
        return {};
    if (type == AE_IFLNK) {
        const char* target = archive_entry_symlink(entry);
        if (!target || !linkStaysInside(pathname, target))
            return std::string("refused link ") + pathname + " -> " + (target ? target : "(none)");
        return {};
    }
    if (type != AE_IFREG && type != AE_IFDIR)
        return std::string("refused special file ") + pathname;
    return {};
}

Reader openReader(const std::string& archivePath)
{
    Reader reader(archive_read_new(), &archive_read_free);
    archive_read_support_filter_gzip(reader.get());
    archive_read_support_filter_xz(reader.get());
    archive_read_support_format_tar(reader.get());
    archive_read_support_format_zip(reader.get());
    if (archive_read_open_filename(reader.get(), archivePath.c_str(), kReadBlockSize) != ARCHIVE_OK)
        return Reader(nullptr, &archive_read_free);
    return reader;
}

Writer openWriter()
{
    Writer writer(archive_write_disk_new(), &archive_write_free);
    // Entry paths are made absolute under the destination, so libarchive's
    // own refusal of absolute paths cannot be used; checkEntry refuses them
    // before that.
    archive_write_disk_set_options(writer.get(),
        ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT
            | ARCHIVE_EXTRACT_NO_OVERWRITE);
    return writer;
}

class Unpacker {
public:
    Unpacker(archive* reader, archive* writer, std::string destination, UnpackLimits limits)
        : m_reader(reader)
        , m_writer(writer)
        , m_destination(std::move(destination))
        , m_limits(limits)
    {
    }

    UnpackOutcome run()
    {
        archive_entry* entry = nullptr;
        int status;
        while ((status = archive_read_next_header(m_reader, &entry)) == ARCHIVE_OK) {
            if (++m_entries > m_limits.maxEntries)
                return failed("too many entries");
            if (auto refusal = checkEntry(entry); !refusal.empty())
                return failed(refusal);
            if (auto failure = writeEntry(entry); !failure.empty())
                return failed(failure);
        }
        if (status != ARCHIVE_EOF)
            return failed(std::string("unreadable archive: ") + errorText(m_reader));
        if (archive_write_close(m_writer) != ARCHIVE_OK)
            return failed(std::string("cannot finish unpacking: ") + errorText(m_writer));
        if (m_entries == 0)
            return failed("empty archive");
        return { true, {} };
    }

private:
    static std::string errorText(archive* handle)
    {
        const char* text = archive_error_string(handle);
        return text ? text : "unknown error";
    }

    static UnpackOutcome failed(std::string why) { return { false, std::move(why) }; }

    std::string writeEntry(archive_entry* entry)
    {
        const std::string pathname = archive_entry_pathname(entry);
        archive_entry_set_pathname(entry, (m_destination + "/" + pathname).c_str());
        if (const char* hardlink = archive_entry_hardlink(entry))
            archive_entry_set_hardlink(entry, (m_destination + "/" + hardlink).c_str());
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
        if (archive_write_header(m_writer, entry) != ARCHIVE_OK)
            return "cannot unpack " + pathname + ": " + errorText(m_writer);
        if (auto failure = copyData(pathname); !failure.empty())
            return failure;
        if (archive_write_finish_entry(m_writer) != ARCHIVE_OK)
            return "cannot unpack " + pathname + ": " + errorText(m_writer);
        return {};
    }

    std::string copyData(const std::string& pathname)
    {
        const void* block = nullptr;
        std::size_t size = 0;
        la_int64_t offset = 0;
        int status;
        while ((status = archive_read_data_block(m_reader, &block, &size, &offset)) == ARCHIVE_OK) {
            if (size > m_limits.maxTotalBytes - m_totalBytes)
                return "unpacks to more than " + std::to_string(m_limits.maxTotalBytes) + " bytes";
            m_totalBytes += size;
            if (archive_write_data_block(m_writer, block, size, offset) != ARCHIVE_OK)
                return "cannot write " + pathname + ": " + errorText(m_writer);
        }
        if (status != ARCHIVE_EOF)
            return "unreadable entry " + pathname + ": " + errorText(m_reader);
        return {};
    }

    archive* m_reader;
    archive* m_writer;
    std::string m_destination;
    UnpackLimits m_limits;
    std::uint64_t m_entries { 0 };
    std::uint64_t m_totalBytes { 0 };
};

} // namespace

UnpackOutcome unpackArchive(const std::string& archivePath, const std::string& destination, UnpackLimits limits)
{
    // Symbolic links are refused on every component of the paths written,
    // so a link among the destination's own folders (a linked home, say)
    // must be resolved first.
    std::error_code error;
    const auto resolvedDestination = std::filesystem::canonical(destination, error);
    if (error)
        return { false, "cannot find the folder to unpack into" };
    auto reader = openReader(archivePath);
    if (!reader)
        return { false, "cannot open the archive" };
    auto writer = openWriter();
    return Unpacker(reader.get(), writer.get(), resolvedDestination.string(), limits).run();
}

} // namespace updater
