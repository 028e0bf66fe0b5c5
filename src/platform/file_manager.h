#pragma once

#include <string>

namespace platform {

// What the file system says about a path, following symbolic links.
enum class PathKind { Missing, Directory, NotDirectory };

class FileManager {
public:
    virtual ~FileManager() = default;
    // Never blocks on an unreachable network file system: it answers from
    // what the kernel already knows.
    virtual PathKind kindOfPath(const std::string& path) const = 0;
};

} // namespace platform
