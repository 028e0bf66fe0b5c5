#include "platform/media_player.h"

namespace platform {

// The Linux player refuses options it does not know, so the macOS-only
// media-keys option is not passed.
MediaPlayer defaultMediaPlayer()
{
    return { "/usr/bin/vlc", { "--avi-index=2" }, "vlc" };
}

} // namespace platform
