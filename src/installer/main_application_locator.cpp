#include "installer/main_application_locator.h"

#include "platform/application_support.h"

#include <filesystem>
#include <system_error>

namespace installer {

namespace {

constexpr std::string_view kChosenApplicationEnding = "/Ferrowind 3.app";
// Only a helper carried by a bundle of this name counts when found by its
// identifier; the installed copy, for one, does not lead to a main
// application.
constexpr std::string_view kHelperFoundByIdentifierMarker = "/Ferrowind.app/";

bool isDirectory(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

std::string withHelperPath(const std::string& mainApplicationPath)
{
    return mainApplicationPath + std::string(kHelperPathInMainApplication);
}

} // namespace

MainApplicationLocator::MainApplicationLocator(const platform::Workspace& workspace, std::string applicationsFolder,
    DirectoryList applicationSupportDirectories)
    : m_workspace(workspace)
    , m_applicationsFolder(std::move(applicationsFolder))
    , m_applicationSupportDirectories(applicationSupportDirectories ? std::move(applicationSupportDirectories)
                                                                    : platform::userApplicationSupportDirectories)
{
}

std::optional<std::string> MainApplicationLocator::helperApplicationLocation() const
{
    const auto directories = m_applicationSupportDirectories();
    if (directories.empty())
        return std::nullopt;
    return directories.front() + "/" + std::string(kHelperInstallFolderName);
}

std::optional<std::string> MainApplicationLocator::installedHelperPath() const
{
    const auto folder = helperApplicationLocation();
    if (!folder)
        return std::nullopt;
    return *folder + "/" + std::string(kInstalledHelperBundleName);
}

std::optional<std::string> MainApplicationLocator::autoDetectBundleURL() const
{
    const auto helperCandidate = [&]() -> std::optional<std::string> {
        auto helper = m_workspace.absolutePathForAppBundleWithIdentifier(std::string(kHelperBundleIdentifier));
        // The result is cut by length below, not by matching: a helper found
        // by its identifier is taken to lie at the helper path of its main
        // application. One too short to hold that path cannot lie there.
        if (helper && isDirectory(*helper) && helper->find(kHelperFoundByIdentifierMarker) != std::string::npos
            && helper->size() > kHelperPathInMainApplication.size())
            return helper;
        return std::nullopt;
    };
    const auto mainApplicationCandidate = [&]() -> std::optional<std::string> {
        const auto main = m_workspace.absolutePathForAppBundleWithIdentifier(std::string(kMainApplicationBundleIdentifier));
        if (main && isDirectory(withHelperPath(*main)))
            return withHelperPath(*main);
        return std::nullopt;
    };
    const auto fixedCandidate = [&]() -> std::optional<std::string> {
        auto helper = withHelperPath(m_applicationsFolder + "/" + std::string(kMainApplicationBundleName));
        return isDirectory(helper) ? std::optional(helper) : std::nullopt;
    };

    auto found = helperCandidate();
    if (!found)
        found = mainApplicationCandidate();
    if (!found)
        found = fixedCandidate();
    if (!found)
        return std::nullopt;
    found->resize(found->size() - kHelperPathInMainApplication.size());
    return found;
}

std::optional<std::string> MainApplicationLocator::getHelperAppBundle(const std::string& mainApplicationPath) const
{
    auto helper = withHelperPath(mainApplicationPath);
    return isDirectory(helper) ? std::optional(helper) : std::nullopt;
}

bool MainApplicationLocator::isMainApplicationWithHelper(const std::string& path) const
{
    return path.ends_with(kChosenApplicationEnding) && isDirectory(withHelperPath(path));
}

bool MainApplicationLocator::shouldEnableURL(const std::string& path) const
{
    return isMainApplicationWithHelper(path) || (isDirectory(path) && !m_workspace.isFilePackageAtPath(path));
}

bool MainApplicationLocator::validateURL(const std::string& path) const
{
    return isMainApplicationWithHelper(path);
}

} // namespace installer
