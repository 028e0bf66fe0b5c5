#include "platform/linux/user/user_folders.h"
#include "platform/media_player.h"

namespace platform {

namespace {

constexpr const char* kApplicationName = "vlc";
constexpr const char* kFlatpakApplicationId = "org.videolan.VLC";

// The Linux player refuses options it does not know, so the macOS-only
// media-keys option is not passed.
std::vector<std::string> playerOptions() { return { "--avi-index=2" }; }

// A Flatpak player sees only what its sandbox holds; forwarding the file
// through the document portal lets it open the one it is given.
MediaPlayer flatpakPlayer(const std::string& installation, const char* scope)
{
    return { installation + "/exports/bin/" + kFlatpakApplicationId, playerOptions(), kApplicationName, "/usr/bin/flatpak",
        { "run", scope, "--file-forwarding", kFlatpakApplicationId }, "@@" };
}

} // namespace

// Debian's package first, then Flathub's (the user's installation, then the
// system's, as `flatpak run` itself prefers), then the snap.
std::vector<MediaPlayer> mediaPlayerInstallations()
{
    std::vector<MediaPlayer> players { { "/usr/bin/vlc", playerOptions(), kApplicationName } };
    if (auto data = linux_files::xdgBaseFolder("XDG_DATA_HOME", ".local/share"))
        players.push_back(flatpakPlayer(*data + "/flatpak", "--user"));
    players.push_back(flatpakPlayer("/var/lib/flatpak", "--system"));
    players.push_back({ "/snap/bin/vlc", playerOptions(), kApplicationName });
    return players;
}

} // namespace platform
