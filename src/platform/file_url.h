#pragma once

#include <string>

namespace platform {

// The file URL of an absolute path, percent-encoded; empty for a relative
// path, which names no file by itself. The path is taken as it is:
// symbolic links are not followed and nothing is normalised.
std::string fileURLForPath(const std::string& absolutePath);

} // namespace platform
