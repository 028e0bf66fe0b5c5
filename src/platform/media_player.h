#pragma once

#include <string>
#include <vector>

namespace platform {

// The outside program that plays media previews, and how it is started: its
// program file, the options that go before the media file, and the name it
// shows as a running application once started.
struct MediaPlayer {
    std::string program;
    std::vector<std::string> options;
    std::string applicationName;
};

// The player this desktop offers at its fixed place.
MediaPlayer defaultMediaPlayer();

} // namespace platform
