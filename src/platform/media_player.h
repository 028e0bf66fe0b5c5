#pragma once

#include <string>
#include <vector>

namespace platform {

// An outside program that plays media previews, as one installation of it
// is started: the file whose presence says it is installed that way, the
// options that go before the media file, and the name it shows as a running
// application once started.
struct MediaPlayer {
    std::string program;
    std::vector<std::string> options;
    std::string applicationName;
    // A player in a sandbox is started through the sandbox's launcher, which
    // takes arguments of its own first. A launcher that forwards files into
    // the sandbox finds the file between two `fileMark`s.
    std::string launcher {};
    std::vector<std::string> launcherArguments {};
    std::string fileMark {};
};

// The installations this desktop may offer, in the order they are preferred.
std::vector<MediaPlayer> mediaPlayerInstallations();

} // namespace platform
