#pragma once

#include "platform/bundle.h"
#include "platform/main_run_loop.h"
#include "platform/main_thread_timer.h"
#include "platform/process_launcher.h"
#include "platform/system_log.h"
#include "updater/update_check.h"
#include "updater/updater.h"

#include <functional>
#include <memory>

namespace updater {

struct UpdaterServices {
    platform::SystemLog& log;
    platform::ProcessLauncher& launcher;
    platform::MainRunLoop& mainRunLoop;
    platform::MainThreadTimer& timer;
    // Runs a check's work off the main thread; a detached thread unless a
    // test says otherwise.
    std::function<void(std::function<void()>)> runInBackground;
};

// The updater of a bundle, configured from its Info.plist alone.
class AutomaticUpdater final : public Updater {
public:
    // Removes what earlier updates left beside the bundle.
    AutomaticUpdater(const platform::Bundle& bundle, UpdaterServices services, std::shared_ptr<UpdateCheck> check);
    // A check still running then finds no one to report to.
    ~AutomaticUpdater() override;
    AutomaticUpdater(const AutomaticUpdater&) = delete;
    AutomaticUpdater& operator=(const AutomaticUpdater&) = delete;

    void setAutomaticallyDownloadsUpdates(bool automatically) override;
    void setAutomaticallyChecksForUpdates(bool automatically) override;
    void checkForUpdatesInBackground() override;

private:
    // Only the schedule's own checks count toward its back-off: a client
    // asking again right after a failure must not push the next automatic
    // check further away.
    enum class Origin { Schedule,
        Request };
    void startCheck(Origin origin);
    void finishCheck(const CheckOutcome& outcome, Origin origin);
    void countFailure(Origin origin);
    // False when the update could not be put in place.
    bool install(std::shared_ptr<PreparedUpdate> update);
    void scheduleNextCheck();

    std::string m_bundlePath;
    UpdaterSettings m_settings;
    UpdaterServices m_services;
    std::shared_ptr<UpdateCheck> m_check;
    class ResultChannel;
    std::shared_ptr<ResultChannel> m_results;
    bool m_downloadsAutomatically { false };
    bool m_checksAutomatically { false };
    bool m_checkRunning { false };
    bool m_saidNoFeed { false };
    unsigned m_failuresInARow { 0 };
};

std::function<void(std::function<void()>)> detachedThreadRunner();

} // namespace updater
