#pragma once

#include "platform/running_applications.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// What the desktop knows about installed applications.
class Workspace {
public:
    virtual ~Workspace() = default;

    // The bundle of the application known under a bundle identifier, or
    // nothing when none is known.
    virtual std::optional<std::string> absolutePathForAppBundleWithIdentifier(const std::string& identifier) const = 0;

    // Whether a directory is shown to the user as one item rather than a
    // folder to open.
    virtual bool isFilePackageAtPath(const std::string& path) const = 0;
};

// /Applications, ~/Applications and /opt: where bundles are put by hand,
// there being no system registry of them.
std::vector<std::string> defaultApplicationFolders();

// Linux has no register of application bundles. An identifier is known when
//  1. a running application of the user has it: its bundle, which covers
//     bundles started from anywhere (lowest process id first); else
//  2. a bundle in one of `applicationFolders` has it in its Info.plist: the
//     bundles right inside each folder, in name order, each followed by the
//     login items it carries in Contents/Library/LoginItems, since those are
//     registered along with the bundle that holds them.
// A package is a directory whose name ends in ".app".
// `runningApplications` must outlive the workspace.
std::unique_ptr<Workspace> makeWorkspace(const RunningApplications& runningApplications,
    std::vector<std::string> applicationFolders = defaultApplicationFolders());

} // namespace platform
