#include "updater/updater.h"

namespace updater {

namespace {

class InactiveUpdater final : public Updater {
public:
    void setAutomaticallyDownloadsUpdates(bool) override { }
    void setAutomaticallyChecksForUpdates(bool) override { }
    void checkForUpdatesInBackground() override { }
};

// Not destroyed at exit: a check still running off the main thread then
// may yet hand its result to the updater.
Updater* shared = new InactiveUpdater;

} // namespace

Updater& Updater::sharedUpdater() { return *shared; }

void Updater::setSharedUpdater(std::unique_ptr<Updater> updater)
{
    delete shared;
    shared = updater ? updater.release() : new InactiveUpdater;
}

} // namespace updater
