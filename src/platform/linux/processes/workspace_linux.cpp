#include "platform/bundle.h"
#include "platform/linux/kernel_tables/proc_entries.h"
#include "platform/linux/user/user_folders.h"
#include "platform/workspace.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace platform {

namespace {

namespace fs = std::filesystem;

bool isBundleDirectory(const fs::path& path)
{
    std::error_code error;
    return path.filename().string().ends_with(".app") && fs::is_directory(path, error);
}

std::optional<std::string> bundleIdentifierOf(const fs::path& bundle)
{
    const auto info = readInfoDictionary(bundleInfoPlistPath(bundle.string()));
    return info ? info->string("CFBundleIdentifier") : std::nullopt;
}

// The bundles right inside a folder, in name order so that the answer does
// not depend on the order the file system lists them in.
std::vector<fs::path> bundlesIn(const fs::path& folder)
{
    std::vector<fs::path> bundles;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        if (isBundleDirectory(entry->path()))
            bundles.push_back(entry->path());
    }
    std::sort(bundles.begin(), bundles.end());
    return bundles;
}

class LinuxWorkspace final : public Workspace {
public:
    LinuxWorkspace(const RunningApplications& runningApplications, std::vector<std::string> applicationFolders)
        : m_runningApplications(runningApplications)
        , m_applicationFolders(std::move(applicationFolders))
    {
    }

    std::optional<std::string> absolutePathForAppBundleWithIdentifier(const std::string& identifier) const override
    {
        if (auto running = runningBundle(identifier))
            return running;
        return installedBundle(identifier);
    }

    bool isFilePackageAtPath(const std::string& path) const override
    {
        fs::path directory(path);
        if (!directory.has_filename())
            directory = directory.parent_path();
        return isBundleDirectory(directory);
    }

private:
    std::optional<std::string> runningBundle(const std::string& identifier) const
    {
        auto applications = m_runningApplications.list();
        std::sort(applications.begin(), applications.end(),
            [](const auto& a, const auto& b) { return a.processIdentifier < b.processIdentifier; });
        for (const auto& application : applications) {
            if (application.bundleIdentifier != identifier)
                continue;
            // The process may have ended since it was listed; then the next
            // one is as good.
            const auto executable = procfs::executablePath(std::to_string(application.processIdentifier));
            if (!executable)
                continue;
            if (auto bundle = enclosingBundlePath(*executable))
                return bundle;
        }
        return std::nullopt;
    }

    std::optional<std::string> installedBundle(const std::string& identifier) const
    {
        for (const auto& folder : m_applicationFolders) {
            for (const auto& bundle : bundlesIn(folder)) {
                if (bundleIdentifierOf(bundle) == identifier)
                    return bundle.string();
                for (const auto& loginItem : bundlesIn(bundle / "Contents" / "Library" / "LoginItems")) {
                    if (bundleIdentifierOf(loginItem) == identifier)
                        return loginItem.string();
                }
            }
        }
        return std::nullopt;
    }

    const RunningApplications& m_runningApplications;
    std::vector<std::string> m_applicationFolders;
};

} // namespace

std::vector<std::string> defaultApplicationFolders()
{
    std::vector<std::string> folders { "/Applications" };
    if (auto home = linux_files::homeFolder())
        folders.push_back(*home + "/Applications");
    folders.push_back("/opt");
    return folders;
}

std::unique_ptr<Workspace> makeWorkspace(const RunningApplications& runningApplications,
    std::vector<std::string> applicationFolders)
{
    return std::make_unique<LinuxWorkspace>(runningApplications, std::move(applicationFolders));
}

} // namespace platform
