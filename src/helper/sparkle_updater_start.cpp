#include "helper/network_listener.h"
#include "updater/updater.h"

void NetworkListener::startSparkleUpdater()
{
    auto& updater = updater::Updater::sharedUpdater();
    updater.setAutomaticallyDownloadsUpdates(true);
    updater.setAutomaticallyChecksForUpdates(true);
    updater.checkForUpdatesInBackground();
}
