#include "platform/file_url.h"
#include "platform/linux/volumes/gvfs_mount_folder.h"
#include "platform/linux/volumes/server_url.h"
#include "platform/linux/volumes/volume_url.h"

#include <algorithm>
#include <string_view>

namespace platform::linux_files {
namespace {

struct HostAndPath {
    std::string host;
    std::string path;
};

// "host:path" or "[v6 address]:path"; the host must not be empty.
std::optional<HostAndPath> splitAtHost(std::string_view source)
{
    std::size_t colon = std::string_view::npos;
    if (source.starts_with('[')) {
        auto closing = source.find(']');
        if (closing != std::string_view::npos && closing + 1 < source.size() && source[closing + 1] == ':')
            colon = closing + 1;
    } else {
        colon = source.find(':');
    }
    if (colon == std::string_view::npos || colon == 0)
        return std::nullopt;
    return HostAndPath { std::string(source.substr(0, colon)), std::string(source.substr(colon + 1)) };
}

// "//server/share[/folder]"; Windows users also write it with backslashes.
std::optional<std::string> smbURL(std::string source)
{
    std::ranges::replace(source, '\\', '/');
    if (!source.starts_with("//"))
        return std::nullopt;
    auto slash = source.find('/', 2);
    if (slash == 2 || slash == std::string::npos || slash + 1 == source.size())
        return std::nullopt;
    return serverURL({ "smb", std::nullopt, source.substr(2, slash - 2), std::nullopt, source.substr(slash) });
}

std::optional<std::string> nfsURL(const std::string& source)
{
    auto parts = splitAtHost(source);
    if (!parts)
        return std::nullopt;
    return serverURL({ "nfs", std::nullopt, parts->host, std::nullopt, parts->path });
}

// A path without a leading slash ("host:" too) is relative to the user's
// home on the server, which an sftp URL cannot say: the server's root would
// be another folder, so there is no URL.
std::optional<std::string> sftpURL(const std::string& source, std::optional<int> port)
{
    std::optional<std::string> user;
    std::string_view rest = source;
    auto at = rest.substr(0, rest.find(':')).rfind('@');
    if (at != std::string_view::npos) {
        user = std::string(rest.substr(0, at));
        rest = rest.substr(at + 1);
    }
    auto parts = splitAtHost(rest);
    if (!parts || (user && user->empty()) || !parts->path.starts_with('/'))
        return std::nullopt;
    return serverURL({ "sftp", user, parts->host, port, parts->path });
}

bool isWebURL(const std::string& source) { return source.starts_with("http://") || source.starts_with("https://"); }

// The kernel shows davfs2 mounts as plain "fuse" (or as "davfs" when it runs
// on coda); their source is the server's URL.
bool isDavfs(const MountEntry& mount)
{
    return mount.fileSystemType == "davfs" || ((mount.fileSystemType == "fuse" || mount.fileSystemType == "fuse.davfs") && isWebURL(mount.source));
}

std::optional<std::string> gvfsURL(const MountEntry& mount, const std::string& path)
{
    if (!pathIsWithin(path, mount.mountPoint) || path.size() <= mount.mountPoint.size() + 1)
        return std::nullopt;
    std::string_view inside = std::string_view(path).substr(mount.mountPoint == "/" ? 1 : mount.mountPoint.size() + 1);
    return urlOfGVfsMountFolder(std::string(inside.substr(0, inside.find('/'))));
}

} // namespace

std::optional<std::string> volumeURL(const MountEntry& mount, const std::string& path, std::optional<int> sshfsPort)
{
    auto const& type = mount.fileSystemType;
    if (type == "cifs" || type == "smb3")
        return smbURL(mount.source);
    if (type == "nfs" || type == "nfs4")
        return nfsURL(mount.source);
    if (type == "fuse.sshfs")
        return sftpURL(mount.source, sshfsPort);
    if (isDavfs(mount))
        return isWebURL(mount.source) ? std::optional(mount.source) : std::nullopt;
    if (type == "fuse.gvfsd-fuse")
        return gvfsURL(mount, path);
    if (auto url = fileURLForPath(mount.mountPoint); !url.empty())
        return url;
    return std::nullopt;
}

} // namespace platform::linux_files
