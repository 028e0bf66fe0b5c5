#pragma once

// What an sshfs command line says about the mount it makes. The kernel's
// table keeps no port for sshfs, so the command line is the only place left
// to read it from.

#include <optional>
#include <string>
#include <vector>

namespace platform::linux_files {

struct SshfsArguments {
    std::string source; // [user@]host:[path], as the mount table shows it
    std::string mountPoint; // as given: relative to the folder sshfs started in, maybe
    std::optional<int> port;
};

// `arguments` without the program name. The port comes from "-p PORT",
// "-pPORT" or a "port=PORT" in an -o list; nothing when it names neither a
// source nor a mount point.
std::optional<SshfsArguments> sshfsArgumentsFrom(const std::vector<std::string>& arguments);

} // namespace platform::linux_files
