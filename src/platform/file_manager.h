#pragma once

#include <string>

namespace platform {

// What the file system says about a path, following symbolic links.
// Unreachable: its file system did not answer in time.
enum class PathKind { Missing,
    Directory,
    NotDirectory,
    Unreachable };

class FileManager {
public:
    virtual ~FileManager() = default;
    // Waits on a silent network file system only within a bound.
    virtual PathKind kindOfPath(const std::string& path) const = 0;
};

} // namespace platform
