#include "platform/linux/common/owned_descriptor.h"
#include "platform/linux/file_holders/mount_kinds.h"
#include "platform/linux/kernel_tables/mount_info.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <sstream>
#include <string_view>
#include <unordered_map>

namespace platform::linux_files {
namespace {

constexpr std::array<std::string_view, 25> kLocalTypes { "ext2", "ext3", "ext4", "xfs", "btrfs", "tmpfs", "ramfs",
    "f2fs", "vfat", "msdos", "exfat", "ntfs", "ntfs3", "hfs", "hfsplus", "jfs", "reiserfs", "nilfs2", "bcachefs", "zfs",
    "overlay", "squashfs", "erofs", "iso9660", "udf" };

bool isLocalType(const std::string& type) { return std::ranges::find(kLocalTypes, type) != kLocalTypes.end(); }

// The kinds of the mounts, read from the table again only when the kernel
// says it changed: the open table signals every mount and unmount to poll,
// so a file system mounted where another was never takes its kind.
class MountKinds {
public:
    bool opensWithoutServer(std::uint64_t mountID)
    {
        std::lock_guard hold(m_lock);
        if (!m_table.isValid() || tableChanged())
            reload();
        auto found = m_local.find(mountID);
        return found != m_local.end() && found->second;
    }

private:
    bool tableChanged() const
    {
        pollfd entry { m_table.get(), POLLPRI, 0 };
        return poll(&entry, 1, 0) != 0;
    }

    void reload()
    {
        m_local.clear();
        if (!m_table.isValid())
            m_table = OwnedDescriptor(open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
        std::string text;
        char chunk[16384];
        for (off_t offset = 0;;) {
            auto count = pread(m_table.get(), chunk, sizeof chunk, offset);
            if (count <= 0)
                break;
            text.append(chunk, static_cast<std::size_t>(count));
            offset += count;
        }
        std::istringstream lines(text);
        for (auto const& mount : parseMountInfo(lines))
            m_local[mount.mountID] = isLocalType(mount.fileSystemType);
    }

    std::mutex m_lock;
    OwnedDescriptor m_table;
    std::unordered_map<std::uint64_t, bool> m_local;
};

} // namespace

bool opensWithoutServer(std::uint64_t mountID)
{
    // Never destroyed: the listener thread may still ask while the process
    // exits.
    static auto* kinds = new MountKinds;
    return kinds->opensWithoutServer(mountID);
}

} // namespace platform::linux_files
