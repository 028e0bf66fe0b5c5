#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Swaps what two paths name in one step, folders included; 0 or the errno
// value of the failure, which tells a file system that cannot do it
// (EINVAL, ENOSYS, EOPNOTSUPP) from other faults.
int exchangePaths(const std::string& first, const std::string& second);

// Makes a new folder only this user may enter, named `prefix` and six
// characters that make the name unique; its path, or nothing.
std::optional<std::string> makeUniqueFolder(const std::string& prefix);

// A file this call made (it did not exist before), readable and writable by
// this user alone, open for writing.
class NewFile {
public:
    virtual ~NewFile() = default;
    // All of `bytes`, or false.
    virtual bool write(std::string_view bytes) = 0;
    // False when the last of the bytes could not be stored.
    virtual bool close() = 0;
};

std::unique_ptr<NewFile> createNewFile(const std::string& path);

} // namespace platform
