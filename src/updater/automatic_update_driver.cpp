#include "updater/automatic_update_driver.h"

#include "updater/bundle_swap.h"

namespace updater {

AutomaticUpdateDriver::AutomaticUpdateDriver(
    InstallServices services, std::string installedBundlePath, std::shared_ptr<PreparedUpdate> update)
    : m_services(services)
    , m_installedBundlePath(std::move(installedBundlePath))
    , m_update(std::move(update))
{
}

bool AutomaticUpdateDriver::unarchiverDidFinish(const Unarchiver&)
{
    return installWithToolAndRelaunch(true, false);
}

bool AutomaticUpdateDriver::installWithToolAndRelaunch(bool relaunch, bool)
{
    auto swap = exchangeBundles(m_update->bundlePath, m_installedBundlePath);
    if (!swap) {
        m_services.log.write("Update not installed: " + swap.failure());
        return false;
    }
    m_services.log.write("Update " + m_update->item.shortVersion + " installed");
    // The staging folder now holds the old bundle and the archive. They go
    // before the successor is started, so that nothing is left even when
    // no later check ever finds an update; what cannot go at once (our own
    // running executable on FUSE) goes when the successor starts.
    m_update->staging.remove();
    m_update.reset();
    if (!relaunch)
        return true;
    // Without a successor we keep serving from the old code: ending now
    // would leave no helper until the next login. restartIfUpdated can
    // still move over to the new bundle later.
    if (!m_services.launcher.openBundleAfterExit(m_installedBundlePath)) {
        m_services.log.write("Cannot start the updated helper; this one goes on serving");
        return true;
    }
    m_services.mainRunLoop.requestTermination();
    return true;
}

} // namespace updater
