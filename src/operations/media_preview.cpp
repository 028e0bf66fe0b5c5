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

const platform::MediaPlayer* installedPlayer(OperationsPlatform& platform)
{
    for (auto const& player : platform.mediaPlayers) {
        if (platform.fileManager.kindOfPath(player.program) == platform::PathKind::NotDirectory)
            return &player;
    }
    return nullptr;
}

// The file stays one argument whatever it holds; a launcher that forwards
// files finds it between its marks.
std::vector<std::string> launchArguments(const platform::MediaPlayer& player, const std::string& path)
{
    std::vector<std::string> arguments = player.launcherArguments;
    arguments.insert(arguments.end(), player.options.begin(), player.options.end());
    if (!player.fileMark.empty())
        arguments.push_back(player.fileMark);
    arguments.push_back(asFileArgument(path));
    if (!player.fileMark.empty())
        arguments.push_back(player.fileMark);
    return arguments;
}

} // namespace

bool NonSandboxableFunctions::detectVLCAvailable(OperationsPlatform& platform)
{
    return installedPlayer(platform) != nullptr;
}

// Every call starts a player of its own; whether one already runs, or the
// file exists, is the player's business.
bool NonSandboxableFunctions::launchVLCPreview(OperationsPlatform& platform, const std::string& path, int passedFile)
{
    // With none installed, the preferred one is tried all the same: its
    // launch fails and says so, as it always has.
    auto const* player = installedPlayer(platform);
    if (!player && platform.mediaPlayers.empty())
        return false;
    if (!player)
        player = &platform.mediaPlayers.front();
    const auto& program = player->launcher.empty() ? player->program : player->launcher;
    if (!platform.launcher.launchDetached(program, launchArguments(*player, path), passedFile))
        return false;
    // A player that is slow to show up, or never does, still was started.
    makeFrontProcessNamed(platform, player->applicationName);
    return true;
}
