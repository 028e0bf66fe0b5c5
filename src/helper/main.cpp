#include "helper/already_launched.h"
#include "helper/network_listener.h"
#include "platform/linux_platform.h"
#include "platform/machine_identity.h"
#include "platform/main_thread_timer.h"
#include "platform/signal_stack.h"
#include "updater/automatic_updater.h"

#include <cstdlib>
#include <thread>

int main()
{
    // Before any thread starts: both read and change the environment.
    const int handedOverListeningSocket = platform::takeHandedOverListeningSocket();
    // A relaunched helper must not meet the one it replaces. Clients that
    // connect meanwhile wait in the queue of the socket it handed over.
    platform::waitUntilOpenerHasExited();
    platform::giveThreadASignalStack();

    auto log = platform::makeSystemLog("Ferrowind Helper");
    auto user = platform::makeUserAccount();
    auto applications = platform::makeRunningApplications();
    auto launcher = platform::makeProcessLauncher();
    auto mainRunLoop = platform::makeMainRunLoop();
    auto sleeper = platform::makeSleeper();
    auto openFileHolders = platform::makeOpenFileHolders();
    auto fileManager = platform::makeFileManager();
    auto power = platform::makePowerServices("Ferrowind Helper");
    auto applicationControl = platform::makeApplicationControl(platform::makeWindowActivation(*log));
    const auto mediaPlayers = platform::mediaPlayerInstallations();
    auto volumeURLs = platform::makeVolumeURLs();
    auto volumeMounter = platform::makeServerVolumeMounter();
    OperationsPlatform operations { *applications, *openFileHolders, *fileManager, *power.assertions, *power.systemEvents,
        *applicationControl, *launcher, *sleeper, mediaPlayers, *volumeURLs, *volumeMounter };
    auto sockets = platform::makeConnectionSockets(handedOverListeningSocket);
    auto clients = platform::makeClientProcesses();
    auto clientPaths = platform::makeClientPaths();
    HelperPlatform helperPlatform { platform::loadMainBundle(), *log, *user, *applications, *launcher, *mainRunLoop, *sleeper, operations,
        *sockets, *clients, *clientPaths };

    if (alreadyLaunched(helperPlatform))
        return 0;

    auto updateTimer = platform::makeMainThreadTimer();
    updater::Updater::setSharedUpdater(std::make_unique<updater::AutomaticUpdater>(helperPlatform.mainBundle,
        updater::UpdaterServices { *log, *launcher, *mainRunLoop, *updateTimer, updater::detachedThreadRunner() },
        updater::makeUpdateCheck({}, platform::machineIdentifier())));

    NetworkListener startupListener(helperPlatform);
    startupListener.startSparkleUpdater();
    std::thread([&startupListener] {
        platform::giveThreadASignalStack();
        startupListener.start();
    }).detach();
    const int status = mainRunLoop->run();
    // Every orderly end passes here (quit, restart, an update's hand-over).
    power.assertions->releaseAllAtExit();
    // A check still running must find no updater to report to.
    updater::Updater::setSharedUpdater(nullptr);
    // Not return: that would destroy the services above while the detached
    // listener thread may still be inside them (the updater ends the loop
    // while that thread waits for clients). exit() keeps this frame alive.
    std::exit(status);
}
