#include "operations/non_sandboxable_functions.h"

#include <string>
#include <vector>

namespace {

// The player would read a path such as "-x" as one of its options; "./-x"
// names the same file and cannot be mistaken. Absolute paths never start
// with a dash, so only relative ones change.
std::string asFileArgument(const std::string& path)
{
    return path.starts_with('-') ? "./" + path : path;
}

} // namespace

bool NonSandboxableFunctions::detectVLCAvailable(OperationsPlatform& platform)
{
    return platform.fileManager.kindOfPath(platform.mediaPlayer.program) == platform::PathKind::NotDirectory;
}

// Every call starts a player of its own; whether one already runs, or the
// file exists, is the player's business.
bool NonSandboxableFunctions::launchVLCPreview(OperationsPlatform& platform, const std::string& path)
{
    auto const& player = platform.mediaPlayer;
    std::vector<std::string> arguments = player.options;
    arguments.push_back(asFileArgument(path));
    if (!platform.launcher.launchDetached(player.program, arguments))
        return false;
    // A player that is slow to show up, or never does, still was started.
    makeFrontProcessNamed(platform, player.applicationName);
    return true;
}
