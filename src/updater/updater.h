#pragma once

#include <memory>

namespace updater {

// The helper's software updater, used from the main thread only.
class Updater {
public:
    virtual ~Updater() = default;

    // The one updater of this process. Until main puts the real one in
    // place it is one that does nothing.
    static Updater& sharedUpdater();
    static void setSharedUpdater(std::unique_ptr<Updater> updater);

    virtual void setAutomaticallyDownloadsUpdates(bool automatically) = 0;
    virtual void setAutomaticallyChecksForUpdates(bool automatically) = 0;
    // Starts a check and returns at once; the check runs off the main
    // thread and its result comes back to it.
    virtual void checkForUpdatesInBackground() = 0;
};

} // namespace updater
