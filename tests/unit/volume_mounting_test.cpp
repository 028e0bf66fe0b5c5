// Rows getVolumeMountURL and mountVolumeWithMountURL over fake volumes.
#include "fakes/fake_platform.h"
#include "helper/network_listener.h"

#include <gtest/gtest.h>

namespace {

class VolumeMountingRows : public testing::Test {
protected:
    FakePlatform fake;
    NetworkListener listener { fake.platform };
};

TEST_F(VolumeMountingRows, ServerVolumeAnswersItsURLAndLocalOrMissingOnesNothing)
{
    fake.volumeURLs.urls = {
        { "/mnt/nas/film.mkv", "smb://nas.local/media" },
        { "/home/alice/film.mkv", "file:///" },
        { "/mnt/odd", "file:/x" },
    };
    EXPECT_EQ(listener.processCommand("getVolumeMountURL \"/mnt/nas/film.mkv\"\n"), "\"smb://nas.local/media\"");
    EXPECT_EQ(listener.processCommand("getVolumeMountURL \"/home/alice/film.mkv\"\n"), "<nil>");
    EXPECT_EQ(listener.processCommand("getVolumeMountURL \"/nowhere\"\n"), "<nil>");
    // Only the exact prefix "file://" marks a local volume.
    EXPECT_EQ(listener.processCommand("getVolumeMountURL \"/mnt/odd\"\n"), "\"file:/x\"");
    EXPECT_EQ(fake.volumeURLs.askedPaths, (std::vector<std::string> { "/mnt/nas/film.mkv", "/home/alice/film.mkv", "/nowhere", "/mnt/odd" }));
}

TEST_F(VolumeMountingRows, EmptyIntegerOrAbsentPathAnswersNothingWithoutAsking)
{
    fake.volumeURLs.urls = { { "", "smb://wrong/answer" }, { "5", "smb://wrong/answer" } };
    for (auto line : { "getVolumeMountURL \"\"\n", "getVolumeMountURL 5\n", "getVolumeMountURL\n" })
        EXPECT_EQ(listener.processCommand(line), "<nil>") << line;
    EXPECT_TRUE(fake.volumeURLs.askedPaths.empty());
}

TEST_F(VolumeMountingRows, MountAnswersTheRootPathOrNothingWhenRefused)
{
    fake.volumeMounter.rootPaths = { { "smb://nas.local/media", "/run/user/1000/gvfs/smb-share:server=nas.local,share=media" } };
    EXPECT_EQ(listener.processCommand("mountVolumeWithMountURL \"smb://nas.local/media\"\n"),
        "\"/run/user/1000/gvfs/smb-share:server=nas.local,share=media\"");
    EXPECT_EQ(listener.processCommand("mountVolumeWithMountURL \"smb://unknown/share\"\n"), "<nil>");
    EXPECT_EQ(fake.volumeMounter.mountedURLs, (std::vector<std::string> { "smb://nas.local/media", "smb://unknown/share" }));
}

TEST_F(VolumeMountingRows, EmptyIntegerOrAbsentMountURLAnswersNothingWithoutMounting)
{
    fake.volumeMounter.rootPaths = { { "", "/wrong" }, { "7", "/wrong" } };
    for (auto line : { "mountVolumeWithMountURL \"\"\n", "mountVolumeWithMountURL 7\n", "mountVolumeWithMountURL\n" })
        EXPECT_EQ(listener.processCommand(line), "<nil>") << line;
    EXPECT_TRUE(fake.volumeMounter.mountedURLs.empty());
}

} // namespace
