#include "helper/already_launched.h"
#include "helper/network_listener.h"
#include "platform/linux_platform.h"

#include <thread>

int main()
{
    // A relaunched helper must not meet the one it replaces.
    platform::waitUntilOpenerHasExited();

    auto log = platform::makeSystemLog("Ferrowind Helper");
    auto user = platform::makeUserAccount();
    auto applications = platform::makeRunningApplications();
    auto launcher = platform::makeProcessLauncher();
    auto mainRunLoop = platform::makeMainRunLoop();
    auto sleeper = platform::makeSleeper();
    auto openFileHolders = platform::makeOpenFileHolders();
    auto fileManager = platform::makeFileManager();
    auto power = platform::makePowerServices("Ferrowind Helper");
    auto applicationControl = platform::makeApplicationControl();
    const auto mediaPlayer = platform::defaultMediaPlayer();
    auto volumeURLs = platform::makeVolumeURLs();
    auto volumeMounter = platform::makeServerVolumeMounter();
    OperationsPlatform operations { *applications, *openFileHolders, *fileManager, *power.assertions, *power.systemEvents,
        *applicationControl, *launcher, *sleeper, mediaPlayer, *volumeURLs, *volumeMounter };
    HelperPlatform helperPlatform { platform::loadMainBundle(), *log, *user, *applications, *launcher, *mainRunLoop, *sleeper, operations };

    if (alreadyLaunched(helperPlatform))
        return 0;

    NetworkListener startupListener(helperPlatform);
    std::thread([&startupListener] { startupListener.start(); }).detach();
    return mainRunLoop->run();
}
