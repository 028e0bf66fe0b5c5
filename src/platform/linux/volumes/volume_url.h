#pragma once

#include "platform/linux/kernel_tables/mount_info.h"

#include <optional>
#include <string>

namespace platform::linux_files {

// The URL of the volume `mount` shows, by its file-system type:
//   cifs, smb3              //server/share        → smb://server/share
//   nfs, nfs4               host:/export/path     → nfs://host/export/path
//   fuse.sshfs              [user@]host:/path     → sftp://[user@]host[:port]/path
//   davfs (fuse for davfs2) http(s)://...         → the source as it is
//   fuse.gvfsd-fuse         <mount point>/<name>  → the URL GVfs named it for
//   anything else                                 → file:// URL of the mount point
// `path` is the canonical path of a file on the mount; only GVfs, which shows
// many volumes under one mount point, needs it. `sshfsPort` is the port the
// mount's sshfs process was given, which the table does not keep. Nothing
// when the source is not in its type's form, or names a folder no URL can
// (an sshfs path relative to the user's home on the server).
std::optional<std::string> volumeURL(const MountEntry& mount, const std::string& path,
    std::optional<int> sshfsPort = std::nullopt);

} // namespace platform::linux_files
