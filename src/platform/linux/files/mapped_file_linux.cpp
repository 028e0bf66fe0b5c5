#include "platform/mapped_file.h"

#include "platform/linux/common/owned_descriptor.h"
#include "platform/linux/common/retrying_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <utility>

namespace platform {

std::optional<MappedFile> MappedFile::open(const std::string& path)
{
    linux_files::OwnedDescriptor descriptor(
        linux_files::retryingInterrupts([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
    if (!descriptor.isValid())
        return std::nullopt;
    struct stat status = {};
    if (fstat(descriptor.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    const auto size = static_cast<std::size_t>(status.st_size);
    // mmap refuses an empty length; an empty file is still a readable one.
    if (size == 0)
        return MappedFile(nullptr, 0);
    void* address = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor.get(), 0);
    if (address == MAP_FAILED)
        return std::nullopt;
    return MappedFile(static_cast<const unsigned char*>(address), size);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr))
    , m_size(std::exchange(other.m_size, 0))
{
}

MappedFile::~MappedFile()
{
    if (m_data)
        munmap(const_cast<unsigned char*>(m_data), m_size);
}

} // namespace platform
