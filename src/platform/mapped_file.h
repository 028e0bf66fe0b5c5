#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace platform {

// A regular file's bytes in memory at once, mapped rather than read, so a
// large file costs no heap. The bytes are those of the moment it was
// mapped as long as nobody rewrites the file in place.
class MappedFile {
public:
    // Nothing when the path is not a regular file or cannot be mapped.
    static std::optional<MappedFile> open(const std::string& path);

    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&&) = delete;
    MappedFile(const MappedFile&) = delete;
    ~MappedFile();

    std::span<const unsigned char> bytes() const { return { m_data, m_size }; }

private:
    MappedFile(const unsigned char* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    const unsigned char* m_data;
    std::size_t m_size;
};

} // namespace platform
