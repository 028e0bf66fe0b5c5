#pragma once

#include <optional>
#include <string>

namespace platform::linux_files {

// A URL put together from parts as they are (not yet percent-encoded):
// scheme://[user@]host[:port]/path, with everything outside the characters
// each part may carry percent-encoded (non-ASCII bytes too), and IPv6
// addresses in brackets. The path gets a leading slash when it lacks one.
struct ServerURLParts {
    std::string scheme;
    std::optional<std::string> user;
    std::string host;
    std::optional<int> port;
    std::string path;
};

std::string serverURL(const ServerURLParts& parts);

} // namespace platform::linux_files
