#include "updater/automatic_updater.h"

#include "platform/signal_stack.h"
#include "updater/automatic_update_driver.h"
#include "updater/retry_schedule.h"

#include <algorithm>
#include <mutex>
#include <thread>

namespace updater {

// How a check's worker reaches the main thread. It outlives the updater, so
// a worker that finishes after the updater has gone posts nothing.
class AutomaticUpdater::ResultChannel {
public:
    explicit ResultChannel(platform::MainRunLoop& loop)
        : m_loop(&loop)
    {
    }

    void post(std::function<void()> work)
    {
        const std::lock_guard lock(m_mutex);
        if (m_loop)
            m_loop->post(std::move(work));
    }

    void close()
    {
        const std::lock_guard lock(m_mutex);
        m_loop = nullptr;
    }

private:
    std::mutex m_mutex;
    platform::MainRunLoop* m_loop;
};

AutomaticUpdater::AutomaticUpdater(const platform::Bundle& bundle, UpdaterServices services, std::shared_ptr<UpdateCheck> check)
    : m_bundlePath(bundle.path)
    , m_settings(readUpdaterSettings(bundle.info))
    , m_services(std::move(services))
    , m_check(std::move(check))
    , m_results(std::make_shared<ResultChannel>(m_services.mainRunLoop))
{
    // At every start, whatever the feed says: a killed update leaves its
    // staging folder, and a finished one may leave the old bundle. No
    // other helper of this bundle runs by now, so none of them is in use.
    StagingFolder::removeLeftoversBeside(m_bundlePath);
}

AutomaticUpdater::~AutomaticUpdater()
{
    m_results->close();
    m_services.timer.cancel();
}

void AutomaticUpdater::setAutomaticallyDownloadsUpdates(bool automatically) { m_downloadsAutomatically = automatically; }

void AutomaticUpdater::setAutomaticallyChecksForUpdates(bool automatically)
{
    m_checksAutomatically = automatically;
    if (!automatically)
        m_services.timer.cancel();
    else if (!m_checkRunning)
        scheduleNextCheck();
}

void AutomaticUpdater::checkForUpdatesInBackground() { startCheck(Origin::Request); }

void AutomaticUpdater::startCheck(Origin origin)
{
    if (!m_settings.feedURL) {
        if (!m_saidNoFeed)
            m_services.log.write("No SUFeedURL in the helper's Info.plist: update checks do nothing");
        m_saidNoFeed = true;
        return;
    }
    // One check at a time; a request meanwhile is answered by the running one.
    if (m_checkRunning)
        return;
    m_checkRunning = true;
    m_services.timer.cancel();
    CheckRequest request { m_settings, m_bundlePath, m_downloadsAutomatically };
    // The worker touches this object only through work posted back to the
    // main thread, so nothing here needs a lock.
    m_services.runInBackground([request, check = m_check, results = m_results, origin, this] {
        auto outcome = check->run(request);
        results->post([this, outcome, origin] { finishCheck(outcome, origin); });
    });
}

void AutomaticUpdater::finishCheck(const CheckOutcome& outcome, Origin origin)
{
    m_checkRunning = false;
    m_services.log.write("Update check: " + outcome.message);
    if (outcome.kind == CheckOutcome::Kind::Failed)
        countFailure(origin);
    else
        m_failuresInARow = 0;
    if (outcome.kind == CheckOutcome::Kind::Prepared && !install(outcome.update))
        countFailure(origin);
    if (m_checksAutomatically)
        scheduleNextCheck();
}

// A requested check that fails is still retried soon (the first step of
// the back-off), but does not take the schedule a step further.
void AutomaticUpdater::countFailure(Origin origin)
{
    if (origin == Origin::Schedule)
        ++m_failuresInARow;
    else
        m_failuresInARow = std::max(m_failuresInARow, 1u);
}

bool AutomaticUpdater::install(std::shared_ptr<PreparedUpdate> update)
{
    const Unarchiver unarchiver { update->staging.path() };
    const std::string installedVersion = update->item.version;
    AutomaticUpdateDriver driver({ m_services.log, m_services.launcher, m_services.mainRunLoop }, m_bundlePath, std::move(update));
    if (!driver.unarchiverDidFinish(unarchiver))
        return false;
    // Should we go on running (no relaunch), the same update must not be
    // fetched again.
    m_settings.bundleVersion = installedVersion;
    return true;
}

void AutomaticUpdater::scheduleNextCheck()
{
    m_services.timer.runAfter(delayBeforeNextCheck(m_failuresInARow, m_settings.checkInterval), [this] { startCheck(Origin::Schedule); });
}

std::function<void(std::function<void()>)> detachedThreadRunner()
{
    return [](std::function<void()> work) {
        std::thread([work = std::move(work)] {
            platform::giveThreadASignalStack();
            work();
        }).detach();
    };
}

} // namespace updater
