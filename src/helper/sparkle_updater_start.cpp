#include "helper/network_listener.h"

void NetworkListener::startSparkleUpdater()
{
    auto& updater = m_platform.sharedUpdater();
    updater.setAutomaticallyDownloadsUpdates(true);
    updater.setAutomaticallyChecksForUpdates(true);
    updater.checkForUpdatesInBackground();
}
