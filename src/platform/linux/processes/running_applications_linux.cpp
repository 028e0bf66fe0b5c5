#include "platform/bundle.h"
#include "platform/linux/processes/proc_entries.h"
#include "platform/linux/sandbox/sandbox_of_process.h"
#include "platform/linux_platform.h"

#include <unistd.h>

#include <filesystem>
#include <map>

namespace platform {

namespace {

// Several processes often share one bundle; its Info.plist is read once per
// listing, and afresh on the next, since bundles are updated in place.
class BundleInfoCache {
public:
    const std::optional<InfoDictionary>& info(const std::string& bundlePath)
    {
        auto found = m_infos.find(bundlePath);
        if (found == m_infos.end())
            found = m_infos.emplace(bundlePath, readInfoDictionary(bundleInfoPlistPath(bundlePath))).first;
        return found->second;
    }

private:
    std::map<std::string, std::optional<InfoDictionary>> m_infos;
};

RunningApplication describe(pid_t pid, const std::string& executable, BundleInfoCache& bundles)
{
    RunningApplication application;
    application.processIdentifier = pid;
    application.displayName = std::filesystem::path(executable).filename().string();
    const auto bundlePath = enclosingBundlePath(executable);
    if (!bundlePath) {
        // A Flatpak application is known by its application id wherever
        // the system names applications, as a bundle is by its identifier.
        if (sandbox::inOtherMountNamespace(pid))
            application.bundleIdentifier = sandbox::flatpakApplicationId(pid);
        return application;
    }
    const auto& info = bundles.info(*bundlePath);
    if (!info)
        return application;
    auto name = info->string("CFBundleDisplayName");
    if (!name)
        name = info->string("CFBundleName");
    if (name)
        application.displayName = std::move(*name);
    application.bundleIdentifier = info->string("CFBundleIdentifier");
    return application;
}

std::optional<RunningApplication> describeIfUsers(pid_t pid, BundleInfoCache& bundles)
{
    if (procfs::realUserID(pid) != getuid())
        return std::nullopt;
    // Kernel threads and zombies have no executable: they are not
    // applications.
    const auto executable = procfs::executablePath(std::to_string(pid));
    if (!executable)
        return std::nullopt;
    return describe(pid, *executable, bundles);
}

class ProcRunningApplications final : public RunningApplications {
public:
    std::vector<RunningApplication> list() const override
    {
        BundleInfoCache bundles;
        std::vector<RunningApplication> applications;
        for (const pid_t pid : procfs::listedProcessIDs()) {
            if (auto application = describeIfUsers(pid, bundles))
                applications.push_back(std::move(*application));
        }
        return applications;
    }

    std::optional<RunningApplication> application(ProcessID pid) const override
    {
        BundleInfoCache bundles;
        return describeIfUsers(pid, bundles);
    }

    ProcessID currentProcessIdentifier() const override { return getpid(); }
};

} // namespace

std::unique_ptr<RunningApplications> makeRunningApplications()
{
    return std::make_unique<ProcRunningApplications>();
}

} // namespace platform
