#include "updater/adapters/archive_extraction.h"
#include "support/owned_by.h"

#include <archive.h>
#include <archive_entry.h>

namespace updater {

namespace {

using Reader = support::OwnedBy<archive, archive_read_free>;
using Writer = support::OwnedBy<archive, archive_write_free>;

constexpr std::size_t kReadBlockSize = 64 * 1024;

support::Failure errorOf(archive* handle)
{
    const char* text = archive_error_string(handle);
    return support::failure(text ? text : "unknown error");
}

std::optional<std::string> textOf(const char* text) { return text ? std::optional<std::string>(text) : std::nullopt; }

ArchiveEntry::Kind kindOf(archive_entry* entry)
{
    switch (archive_entry_filetype(entry)) {
    case AE_IFREG:
        return ArchiveEntry::Kind::File;
    case AE_IFDIR:
        return ArchiveEntry::Kind::Folder;
    case AE_IFLNK:
        return ArchiveEntry::Kind::SymbolicLink;
    default:
        return ArchiveEntry::Kind::Other;
    }
}

Reader openReader(const std::string& archivePath)
{
    Reader reader(archive_read_new());
    archive_read_support_filter_gzip(reader.get());
    archive_read_support_filter_xz(reader.get());
    archive_read_support_format_tar(reader.get());
    archive_read_support_format_zip(reader.get());
    if (archive_read_open_filename(reader.get(), archivePath.c_str(), kReadBlockSize) != ARCHIVE_OK)
        return Reader();
    return reader;
}

Writer openWriter()
{
    Writer writer(archive_write_disk_new());
    // Entries come with absolute paths under the destination, so
    // libarchive's own refusal of absolute paths cannot be used; the
    // caller refuses them before that.
    archive_write_disk_set_options(writer.get(),
        ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT
            | ARCHIVE_EXTRACT_NO_OVERWRITE);
    return writer;
}

class LibarchiveExtraction final : public ArchiveExtraction {
public:
    explicit LibarchiveExtraction(Reader reader)
        : m_reader(std::move(reader))
        , m_writer(openWriter())
    {
    }

    support::Outcome<std::optional<ArchiveEntry>> nextEntry() override
    {
        const int status = archive_read_next_header(m_reader.get(), &m_entry);
        if (status == ARCHIVE_EOF)
            return std::optional<ArchiveEntry>();
        if (status != ARCHIVE_OK)
            return errorOf(m_reader.get());
        return std::optional(ArchiveEntry { textOf(archive_entry_pathname(m_entry)), textOf(archive_entry_hardlink(m_entry)),
            textOf(archive_entry_symlink(m_entry)), kindOf(m_entry), static_cast<unsigned>(archive_entry_perm(m_entry)) });
    }

    support::Outcome<void> writeEntry(const ArchiveEntry& placed) override
    {
        archive_entry_set_pathname(m_entry, placed.path.value_or("").c_str());
        if (placed.hardLinkTarget)
            archive_entry_set_hardlink(m_entry, placed.hardLinkTarget->c_str());
        archive_entry_set_perm(m_entry, static_cast<mode_t>(placed.permissions));
        return succeeded(archive_write_header(m_writer.get(), m_entry), m_writer.get());
    }

    support::Outcome<std::optional<DataBlock>> nextBlock() override
    {
        const void* block = nullptr;
        std::size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(m_reader.get(), &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            return std::optional<DataBlock>();
        if (status != ARCHIVE_OK)
            return errorOf(m_reader.get());
        return std::optional(DataBlock { { static_cast<const std::byte*>(block), size }, offset });
    }

    support::Outcome<void> writeBlock(const DataBlock& block) override
    {
        const auto written = archive_write_data_block(m_writer.get(), block.bytes.data(), block.bytes.size(), block.offset);
        return succeeded(static_cast<int>(written), m_writer.get());
    }

    support::Outcome<void> finishEntry() override { return succeeded(archive_write_finish_entry(m_writer.get()), m_writer.get()); }

    support::Outcome<void> finish() override { return succeeded(archive_write_close(m_writer.get()), m_writer.get()); }

private:
    static support::Outcome<void> succeeded(int status, archive* handle)
    {
        if (status != ARCHIVE_OK)
            return errorOf(handle);
        return {};
    }

    Reader m_reader;
    Writer m_writer;
    archive_entry* m_entry { nullptr };
};

} // namespace

std::unique_ptr<ArchiveExtraction> openArchiveExtraction(const std::string& archivePath)
{
    auto reader = openReader(archivePath);
    if (!reader)
        return nullptr;
    return std::make_unique<LibarchiveExtraction>(std::move(reader));
}

} // namespace updater
