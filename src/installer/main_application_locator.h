#pragma once

#include "platform/workspace.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace installer {

inline constexpr std::string_view kHelperBundleIdentifier = "com.Ferrowind.Ferrowind-Helper";
inline constexpr std::string_view kMainApplicationBundleIdentifier = "com.Calderine.Ferrowind3";
// Where the main application carries its own copy of the helper.
inline constexpr std::string_view kHelperPathInMainApplication = "/Contents/Library/LoginItems/Ferrowind Helper.app";
inline constexpr std::string_view kMainApplicationBundleName = "Ferrowind 3.app";
inline constexpr std::string_view kDefaultApplicationsFolder = "/Applications";
inline constexpr std::string_view kHelperInstallFolderName = "Ferrowind Helper";
inline constexpr std::string_view kInstalledHelperBundleName = "Ferrowind Helper.app";

// The places on disk the installer deals with: the folder it installs the
// helper into, and the main application with the helper copy it carries.
class MainApplicationLocator {
public:
    using DirectoryList = std::function<std::vector<std::string>()>;

    // `applicationsFolder` is where the main application is looked for last
    // and where the user starts looking for it; `applicationSupportDirectories`
    // lists the user's Application Support directories, most preferred first.
    explicit MainApplicationLocator(const platform::Workspace& workspace,
        std::string applicationsFolder = std::string(kDefaultApplicationsFolder),
        DirectoryList applicationSupportDirectories = {});

    // The helper install folder; it may not exist yet.
    std::optional<std::string> helperApplicationLocation() const;
    std::optional<std::string> installedHelperPath() const;

    // The main application's bundle path.
    std::optional<std::string> autoDetectBundleURL() const;

    // The helper bundle inside a main application.
    std::optional<std::string> getHelperAppBundle(const std::string& mainApplicationPath) const;

    // Whether the user may pick an entry: a main application holding the
    // helper, or a folder to look inside.
    bool shouldEnableURL(const std::string& path) const;
    // Whether a picked entry is taken: only a main application holding the
    // helper.
    bool validateURL(const std::string& path) const;

    const std::string& applicationsFolder() const { return m_applicationsFolder; }

private:
    bool isMainApplicationWithHelper(const std::string& path) const;

    const platform::Workspace& m_workspace;
    std::string m_applicationsFolder;
    DirectoryList m_applicationSupportDirectories;
};

} // namespace installer
