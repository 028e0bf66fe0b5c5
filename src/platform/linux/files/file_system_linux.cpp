#include "platform/file_system.h"

#include "platform/linux/common/owned_descriptor.h"
#include "platform/linux/common/retrying_io.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

class NewFileLinux final : public NewFile {
public:
    explicit NewFileLinux(linux_files::OwnedDescriptor descriptor)
        : m_descriptor(std::move(descriptor))
    {
    }

    bool write(std::string_view bytes) override { return linux_files::writeAll(m_descriptor.get(), bytes); }

    bool close() override
    {
        // Not retried on EINTR: Linux has released the descriptor by then.
        return m_descriptor.isValid() && m_descriptor.closeReportingErrors();
    }

private:
    linux_files::OwnedDescriptor m_descriptor;
};

} // namespace

int exchangePaths(const std::string& first, const std::string& second)
{
    return renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) == 0 ? 0 : errno;
}

std::optional<std::string> makeUniqueFolder(const std::string& prefix)
{
    std::vector<char> pattern(prefix.begin(), prefix.end());
    for (char c : std::string_view("XXXXXX"))
        pattern.push_back(c);
    pattern.push_back('\0');
    if (!mkdtemp(pattern.data()))
        return std::nullopt;
    return std::string(pattern.data());
}

std::unique_ptr<NewFile> createNewFile(const std::string& path)
{
    linux_files::OwnedDescriptor descriptor(linux_files::retryingInterrupts(
        [&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600); }));
    if (!descriptor.isValid())
        return nullptr;
    return std::make_unique<NewFileLinux>(std::move(descriptor));
}

} // namespace platform
