#include "installer/helper_installation.h"

#include "installer/login_items/login_item_registration.h"
#include "installer/main_application_locator.h"

#include <chrono>
#include <filesystem>
#include <system_error>

namespace installer {

namespace {

// A helper that was sent SIGKILL is normally gone within milliseconds; one
// stuck in the kernel (on a dead network mount, say) must not hold up the
// window for long.
constexpr std::chrono::milliseconds kEndedHelperBound { 3000 };

bool existsAtPath(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

// What the login items know the installed helper by.
std::string urlOf(const HelperPlaces& places)
{
    return platform::fileURLForPath(places.installedHelper);
}

} // namespace

bool choiceEndsInstaller(bool succeeded, ResultChoice choice)
{
    return succeeded && choice == ResultChoice::Default;
}

HelperInstallation::HelperInstallation(Services services, std::string helperPayloadPath)
    : m_services(std::move(services))
    , m_helperPayloadPath(std::move(helperPayloadPath))
{
}

bool HelperInstallation::stopHelperProcess(const std::optional<HelperPlaces>& places)
{
    return stopHelpers(places).wasRegistered;
}

HelperInstallation::StoppedHelpers HelperInstallation::stopHelpers(const std::optional<HelperPlaces>& places)
{
    StoppedHelpers stopped;
    if (!places || !disableLoginItemWithURL(m_services.openLoginItems().get(), urlOf(*places)))
        return stopped;
    stopped.wasRegistered = true;
    // Matched by identifier alone: a helper started from another copy, such
    // as the main application's own, goes too.
    for (const auto& application : m_services.runningApplications.list()) {
        if (application.bundleIdentifier != kHelperBundleIdentifier)
            continue;
        m_services.termination.forceTerminate(application.processIdentifier);
        stopped.ended.push_back(application.processIdentifier);
    }
    return stopped;
}

FlowResult HelperInstallation::install(const std::optional<HelperPlaces>& places)
{
    const auto stopped = stopHelpers(places);
    return { Flow::Install, places && installHelper(*places, stopped.ended) };
}

bool HelperInstallation::installHelper(const HelperPlaces& places, const std::vector<platform::ProcessID>& endedHelpers)
{
    std::error_code ignored;
    std::filesystem::create_directories(places.installFolder, ignored);
    if (!m_services.placeFreshCopy(m_helperPayloadPath, places.installedHelper))
        return false;
    if (!enableLoginItemWithURL(m_services.openLoginItems().get(), urlOf(places)))
        return false;
    if (m_services.desktopExtension.install && !m_services.desktopExtension.install(places.installedHelper))
        return false;
    // The new helper would otherwise meet a dying one in its single-instance
    // check, give way to it, and leave no helper running after a success.
    for (const auto process : endedHelpers)
        m_services.termination.waitUntilEnded(process, kEndedHelperBound);
    m_services.launcher.openBundle(places.installedHelper);
    return true;
}

// The folder goes even when the helper had no entry; the outcome tells only
// whether it had one.
FlowResult HelperInstallation::uninstall(const std::optional<HelperPlaces>& places)
{
    const bool wasRegistered = stopHelperProcess(places);
    if (m_services.desktopExtension.remove)
        m_services.desktopExtension.remove();
    if (places && existsAtPath(places->installFolder)) {
        std::error_code ignored;
        std::filesystem::remove_all(places->installFolder, ignored);
    }
    return { Flow::Uninstall, wasRegistered };
}

} // namespace installer
