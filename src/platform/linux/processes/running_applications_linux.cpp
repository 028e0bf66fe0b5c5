#include "platform/bundle.h"
#include "platform/linux/kernel_tables/proc_entries.h"
#include "platform/linux/sandbox/sandbox_of_process.h"
#include "platform/linux_platform.h"

#include <unistd.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <unordered_map>

namespace platform {

namespace {

// Several processes often share one bundle; its Info.plist is read once per
// listing.
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

bool isUsers(pid_t pid) { return procfs::realUserID(pid).holds(getuid()); }

std::optional<RunningApplication> describeIfUsers(pid_t pid, BundleInfoCache& bundles)
{
    if (!isUsers(pid))
        return std::nullopt;
    // Kernel threads and zombies have no executable: they are not
    // applications.
    const auto executable = procfs::executablePath(std::to_string(pid));
    if (!executable)
        return std::nullopt;
    return describe(pid, *executable, bundles);
}

// Describing a process reads several files of it, and a bundle's Info.plist;
// a description is kept while the same process (the same /proc entry) runs
// the same executable, which costs one look at its executable per listing.
// That look is not spared: a process started from another program runs that
// program's executable until it replaces it with its own. An application
// keeps its name while it runs, even when its bundle is updated in place.
class DescribedProcesses {
public:
    std::vector<RunningApplication> list()
    {
        std::lock_guard lock(m_mutex);
        BundleInfoCache bundles;
        std::unordered_map<pid_t, Described> described;
        std::vector<RunningApplication> applications;
        for (const auto& process : procfs::listedProcesses()) {
            auto executable = procfs::executablePath(std::to_string(process.pid));
            if (!executable)
                continue;
            auto& now = described[process.pid] = describedNow(process, std::move(*executable), bundles);
            if (now.application)
                applications.push_back(*now.application);
        }
        m_described = std::move(described);
        return applications;
    }

private:
    struct Described {
        ino_t entryInode;
        std::string executable;
        std::optional<RunningApplication> application;
    };

    Described describedNow(const procfs::ListedProcess& process, std::string executable, BundleInfoCache& bundles)
    {
        // Inode number 1 stands for an entry the kernel gave no number of its own.
        auto known = m_described.find(process.pid);
        if (known != m_described.end() && process.entryInode > 1 && known->second.entryInode == process.entryInode
            && known->second.executable == executable)
            return std::move(known->second);
        std::optional<RunningApplication> application;
        if (isUsers(process.pid))
            application = describe(process.pid, executable, bundles);
        return { process.entryInode, std::move(executable), std::move(application) };
    }

    std::mutex m_mutex;
    std::unordered_map<pid_t, Described> m_described;
};

class ProcRunningApplications final : public RunningApplications {
public:
    std::vector<RunningApplication> list() const override { return m_described.list(); }

    std::optional<RunningApplication> application(ProcessID pid) const override
    {
        BundleInfoCache bundles;
        return describeIfUsers(pid, bundles);
    }

    ProcessID currentProcessIdentifier() const override { return getpid(); }

private:
    mutable DescribedProcesses m_described;
};

} // namespace

std::unique_ptr<RunningApplications> makeRunningApplications()
{
    return std::make_unique<ProcRunningApplications>();
}

} // namespace platform
