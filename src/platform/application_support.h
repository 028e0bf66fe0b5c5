#pragma once

#include <string>
#include <vector>

namespace platform {

// The user's Application Support directories as absolute paths, most
// preferred first; empty when none can be determined.
std::vector<std::string> userApplicationSupportDirectories();

} // namespace platform
