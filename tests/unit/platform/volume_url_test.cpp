// Which mount holds a file, and the URL of its volume, from mountinfo lines
// as the kernel writes them.
#include "platform/linux/kernel_tables/mount_info.h"
#include "platform/linux/volumes/gvfs_mount_folder.h"
#include "platform/linux/volumes/volume_url.h"

#include <gtest/gtest.h>

#include <sys/sysmacros.h>

#include <array>
#include <sstream>
#include <tuple>

namespace platform::linux_files {
namespace {

using namespace std::string_literals;

constexpr const char* kMountInfo = "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw,errors=remount-ro\n"
                                   "25 22 0:23 / /tmp rw,nosuid,nodev shared:5 - tmpfs tmpfs rw,size=8126464k,inode64\n"
                                   "30 22 0:45 / /var/lib/docker/overlay2/3f2a/merged rw,relatime - overlay overlay "
                                   "rw,lowerdir=/var/lib/docker/overlay2/l/QX:/var/lib/docker/overlay2/l/TB,upperdir=/var/lib/docker/overlay2/3f2a/diff\n"
                                   "40 22 0:50 / /mnt/nas rw,relatime shared:200 - cifs //nas.local/media rw,vers=3.1.1,username=alice,addr=192.168.1.10\n"
                                   "41 22 0:51 / /mnt/nfs rw,relatime shared:201 master:7 - nfs4 fileserver:/export/home rw,vers=4.2,addr=10.0.0.5\n"
                                   "42 22 0:52 / /home/alice/remote rw,nosuid,nodev,relatime shared:202 - fuse.sshfs alice@build.example.org:/srv/www "
                                   "rw,user_id=1000,group_id=1000\n"
                                   "43 22 0:53 / /mnt/dav rw,nosuid,nodev,relatime shared:203 - fuse https://cloud.example.com/remote.php/dav/files/alice/ "
                                   "rw,user_id=0,group_id=0,allow_other,max_read=16384\n"
                                   "44 22 0:54 / /run/user/1000/gvfs rw,nosuid,nodev,relatime shared:204 - fuse.gvfsd-fuse gvfsd-fuse rw,user_id=1000,group_id=1000\n"
                                   "45 22 8:17 / /media/alice/My\\040Disk rw,nosuid,nodev,relatime shared:205 - ext4 /dev/sdb1 rw\n"
                                   "46 22 8:2 /srv/data /srv rw,relatime shared:1 - ext4 /dev/sda2 rw,errors=remount-ro\n"
                                   "47 46 0:56 / /srv/share rw,relatime - smb3 //backup/share rw\n"
                                   "48 22 0:57 / /mnt/old rw,relatime - davfs https://dav.example.net/files/ rw\n";

std::vector<MountEntry> fixture()
{
    std::istringstream input(kMountInfo);
    return parseMountInfo(input);
}

MountedFile file(unsigned major, unsigned minor, std::string path) { return { std::nullopt, makedev(major, minor), std::move(path) }; }

std::optional<std::string> urlFor(const MountedFile& mounted)
{
    auto mounts = fixture();
    auto const* mount = mountHolding(mounts, mounted);
    return mount ? volumeURL(*mount, mounted.canonicalPath) : std::nullopt;
}

TEST(MountInfoParser, ReadsFieldsAroundOptionalOnesAndUnescapesBlanks)
{
    auto mounts = fixture();
    ASSERT_EQ(mounts.size(), 12u);
    EXPECT_EQ(mounts[0].mountID, 22u);
    EXPECT_EQ(mounts[0].device, makedev(8, 2));
    EXPECT_EQ(mounts[0].fileSystemType, "ext4");
    EXPECT_EQ(mounts[0].source, "/dev/sda2");
    EXPECT_EQ(mounts[2].fileSystemType, "overlay");
    EXPECT_EQ(mounts[4].fileSystemType, "nfs4"); // two optional fields
    EXPECT_EQ(mounts[4].superOptions, "rw,vers=4.2,addr=10.0.0.5");
    EXPECT_EQ(mounts[8].mountPoint, "/media/alice/My Disk");
    EXPECT_EQ(mounts[9].root, "/srv/data");
    EXPECT_EQ(mounts[10].fileSystemType, "smb3"); // no optional field at all
}

TEST(MountInfoParser, UnescapesEveryOctalEscapeAndSkipsMalformedLines)
{
    std::istringstream input(
        "50 22 0:60 / /a\\011b\\134c\\012d\\040 rw - tmpfs my\\040src rw\n"
        "garbage\n"
        "51 22 0:61 / /no-separator rw shared:1 tmpfs tmpfs rw\n"
        "x 22 0:62 / /bad-id rw - tmpfs tmpfs rw\n"
        "53 22 062 / /bad-device rw - tmpfs tmpfs rw\n"
        "54 22 0:63 / /trailing\\04 rw - tmpfs tmpfs rw\n"
        "\n"
        "55\t22 0:64 / /tab-separated rw - tmpfs tmpfs rw\n"
        "56  22 0:65 / /two-blanks rw - tmpfs tmpfs rw\n"
        "57 22 0:66 /  rw - tmpfs tmpfs rw\n"
        "58 22 0:67 / /one-field-too-many rw - tmpfs tmpfs rw extra\n"
        "59 22 0:68 / /no-super-options rw - tmpfs tmpfs \n"
        "4294967296 22 0:69 / /id-beyond-the-kernels rw - tmpfs tmpfs rw\n"
        "60 x 0:70 / /bad-parent rw - tmpfs tmpfs rw\n"
        "61 22 0:71 / /escaped-nul\\000 rw - tmpfs tmpfs rw\n"
        "62 22 0:72 / /raw-nul rw shared:\0 - tmpfs tmpfs rw\n"s);
    auto mounts = parseMountInfo(input);
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[0].mountPoint, "/a\tb\\c\nd ");
    EXPECT_EQ(mounts[0].source, "my src");
    EXPECT_EQ(mounts[1].mountPoint, "/trailing\\04");
}

// Carriage returns, vertical tabs and form feeds are not escaped by the
// kernel; an empty source is an empty field. A folder name that spells out
// the rest of a line must stay a folder name.
TEST(MountInfoParser, SplitsOnSingleBlanksOnly)
{
    using Row = std::array<const char*, 5>; // line, mount point, type, source, super options
    for (auto row : std::initializer_list<Row> {
             { "49 20 0:56 / /mnt/test/foo\rbar rw shared:323 - tmpfs tmpfs rw", "/mnt/test/foo\rbar", "tmpfs", "tmpfs", "rw" },
             { "50 20 0:57 / /a\vb\fc\r rw - tmpfs tmp\vfs rw,size=1k", "/a\vb\fc\r", "tmpfs", "tmp\vfs", "rw,size=1k" },
             { "21 20 0:53 / /mnt/test rw,relatime shared:212 - tmpfs  rw", "/mnt/test", "tmpfs", "", "rw" },
             { "60 22 0:70 / /cm/sp\vY\v-\vfuse.sshfs\vuser@evil.example:/data\vrw rw shared:9 - tmpfs tmpfs rw,size=64k",
                 "/cm/sp\vY\v-\vfuse.sshfs\vuser@evil.example:/data\vrw", "tmpfs", "tmpfs", "rw,size=64k" },
             { "61 22 0:71 / /m rw shared:1 - - - rw", "/m", "-", "-", "rw" },
         }) {
        std::istringstream input(row[0]);
        auto mounts = parseMountInfo(input);
        ASSERT_EQ(mounts.size(), 1u) << row[0];
        Row read { row[0], mounts[0].mountPoint.c_str(), mounts[0].fileSystemType.c_str(), mounts[0].source.c_str(),
            mounts[0].superOptions.c_str() };
        EXPECT_EQ(std::vector<std::string>(read.begin(), read.end()), std::vector<std::string>(row.begin(), row.end()));
    }
}

TEST(VolumeURL, NetworkFileSystemsGiveTheirServerURL)
{
    EXPECT_EQ(urlFor(file(0, 50, "/mnt/nas/films/a.mkv")), "smb://nas.local/media");
    EXPECT_EQ(urlFor(file(0, 51, "/mnt/nfs/alice")), "nfs://fileserver/export/home");
    EXPECT_EQ(urlFor(file(0, 52, "/home/alice/remote/index.html")), "sftp://alice@build.example.org/srv/www");
    EXPECT_EQ(urlFor(file(0, 53, "/mnt/dav/x")), "https://cloud.example.com/remote.php/dav/files/alice/");
    EXPECT_EQ(urlFor(file(0, 57, "/mnt/old")), "https://dav.example.net/files/");
}

TEST(VolumeURL, LocalFileSystemsGiveTheFileURLOfTheirMountPoint)
{
    EXPECT_EQ(urlFor(file(8, 2, "/home/alice/notes.txt")), "file:///");
    EXPECT_EQ(urlFor(file(0, 23, "/tmp/download.part")), "file:///tmp");
    EXPECT_EQ(urlFor(file(0, 45, "/var/lib/docker/overlay2/3f2a/merged/etc")), "file:///var/lib/docker/overlay2/3f2a/merged");
    EXPECT_EQ(urlFor(file(8, 17, "/media/alice/My Disk/f")), "file:///media/alice/My%20Disk");
}

TEST(VolumeURL, NestedMountsResolveToTheInnermostHolder)
{
    // /srv is a bind mount of the root file system's /srv/data: same device
    // as /, so the longer mount point that encloses the path wins.
    EXPECT_EQ(urlFor(file(8, 2, "/srv/site/index.html")), "file:///srv");
    EXPECT_EQ(urlFor(file(8, 2, "/srvx/file")), "file:///");
    EXPECT_EQ(urlFor(file(0, 56, "/srv/share/backup.tar")), "smb://backup/share");
    // A path reached by a way the table does not show still finds its device.
    EXPECT_EQ(urlFor(file(0, 50, "/elsewhere/films")), "smb://nas.local/media");
    // The kernel's mount ID outranks the device number.
    EXPECT_EQ(urlFor({ 46, makedev(8, 2), "/home/alice" }), "file:///srv");
    // A device the table does not list (a btrfs subvolume): by path.
    EXPECT_EQ(urlFor(file(0, 99, "/mnt/nas/sub")), "smb://nas.local/media");
    EXPECT_EQ(urlFor(file(0, 99, "relative")), std::nullopt);
}

TEST(VolumeURL, GVfsFolderGivesTheURLOfTheMountItNames)
{
    EXPECT_EQ(urlFor(file(0, 54, "/run/user/1000/gvfs/smb-share:server=nas.local,share=my%20films,user=alice/a/b.mkv")),
        "smb://alice@nas.local/my%20films");
    EXPECT_EQ(urlFor(file(0, 54, "/run/user/1000/gvfs/sftp:host=example.org,port=2222,user=bob")), "sftp://bob@example.org:2222/");
    EXPECT_EQ(urlFor(file(0, 54, "/run/user/1000/gvfs")), std::nullopt);
}

TEST(GVfsMountFolder, MapsEachKindOfMountName)
{
    EXPECT_EQ(urlOfGVfsMountFolder("smb-share:domain=WORK,server=fs1,share=public,user=eve"), "smb://WORK;eve@fs1/public");
    EXPECT_EQ(urlOfGVfsMountFolder("smb-server:server=fs1"), "smb://fs1/");
    EXPECT_EQ(urlOfGVfsMountFolder("dav:host=cloud.example.com,ssl=true,user=al,prefix=%2Fremote.php%2Fwebdav"),
        "davs://al@cloud.example.com/remote.php/webdav");
    EXPECT_EQ(urlOfGVfsMountFolder("dav:host=127.0.0.1,port=8080,ssl=false"), "dav://127.0.0.1:8080/");
    EXPECT_EQ(urlOfGVfsMountFolder("ftp:host=::1,port=2121"), "ftp://[::1]:2121/");
    EXPECT_EQ(urlOfGVfsMountFolder("nfs:host=filer,prefix=%2Fexport%2Fdata"), "nfs://filer/export/data");
    EXPECT_EQ(urlOfGVfsMountFolder("afp-volume:host=mac.local,user=x,volume=Time%20Machine"), "afp://x@mac.local/Time%20Machine");
    // Not in the type:key=value form, or lacking what its kind needs.
    for (auto name : { "", "plain folder", ":host=x", "smb-share:server=fs1", "sftp:user=bob", "sftp:host", "sftp:host=a%2", "afp-volume:host=m" })
        EXPECT_EQ(urlOfGVfsMountFolder(name), std::nullopt) << name;
    // A port that is no port is left out rather than written as garbage.
    EXPECT_EQ(urlOfGVfsMountFolder("sftp:host=h,port=99999"), "sftp://h/");
}

TEST(VolumeURL, PartsThatNeedItArePercentEncoded)
{
    MountEntry cifs { 1, makedev(0, 1), "/", "/m", "cifs", "//nas/Filme & Serien/ü#1", "" };
    EXPECT_EQ(volumeURL(cifs, "/m"), "smb://nas/Filme%20&%20Serien/%C3%BC%231");
    MountEntry backslashes { 1, makedev(0, 1), "/", "/m", "cifs", "\\\\nas\\share", "" };
    EXPECT_EQ(volumeURL(backslashes, "/m"), "smb://nas/share");
    MountEntry nfs6 { 1, makedev(0, 1), "/", "/m", "nfs", "[fd00::5]:/export/a b", "" };
    EXPECT_EQ(volumeURL(nfs6, "/m"), "nfs://[fd00::5]/export/a%20b");
    MountEntry local { 1, makedev(0, 1), "/", "/mnt/ü?#%", "ext4", "/dev/x", "" };
    EXPECT_EQ(volumeURL(local, "/mnt/ü?#%"), "file:///mnt/%C3%BC%3F%23%25");
}

// The table keeps no port for sshfs: it comes from the sshfs process. A path
// relative to the home folder has no URL; the server's root is elsewhere.
TEST(VolumeURL, SshfsURLsNameTheFolderAndPortMounted)
{
    for (auto [source, port, url] : std::initializer_list<std::tuple<const char*, std::optional<int>, std::optional<std::string>>> {
             { "alice@host:/srv/www", 2222, "sftp://alice@host:2222/srv/www" }, { "host:/", std::nullopt, "sftp://host/" },
             { "[fd00::7]:/data", 2200, "sftp://[fd00::7]:2200/data" }, { "alice@host:", 2222, std::nullopt },
             { "host:", std::nullopt, std::nullopt }, { "host:relative/path", 22, std::nullopt }, { "host:~/files", 22, std::nullopt } }) {
        MountEntry mount { 1, makedev(0, 1), "/", "/m", "fuse.sshfs", source, "rw,user_id=1000" };
        EXPECT_EQ(volumeURL(mount, "/m/x", port), url) << source;
    }
}

TEST(VolumeURL, SourcesNotInTheirTypesFormGiveNothing)
{
    for (auto [type, source] : std::initializer_list<std::pair<const char*, const char*>> {
             { "cifs", "nas/share" }, { "cifs", "//" }, { "cifs", "//nas" }, { "cifs", "//nas/" }, { "smb3", "///share" },
             { "nfs", "/export" }, { "nfs4", ":/export" }, { "fuse.sshfs", "@host:/p" }, { "fuse.sshfs", "hostonly" },
             { "davfs", "/dev/coda0" } }) {
        MountEntry mount { 1, makedev(0, 1), "/", "/m", type, source, "" };
        EXPECT_EQ(volumeURL(mount, "/m/x"), std::nullopt) << type << " " << source;
    }
    // A plain FUSE file system that is not davfs is local as far as we can tell.
    MountEntry fuse { 1, makedev(0, 1), "/", "/m", "fuse", "/dev/fuse", "" };
    EXPECT_EQ(volumeURL(fuse, "/m/x"), "file:///m");
}

} // namespace
} // namespace platform::linux_files
