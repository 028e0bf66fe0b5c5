#pragma once

#include <optional>
#include <string>

namespace platform::linux_files {

// GVfs shows each of its mounts through FUSE as a folder named after the
// mount's identity, "type:key=value,..." with the values
// percent-encoded (for example "smb-share:server=nas,share=media"). This is
// the URL GVfs itself gives for the root of that mount; nothing when the name
// is not in that form or lacks the parts its type needs.
std::optional<std::string> urlOfGVfsMountFolder(const std::string& name);

} // namespace platform::linux_files
