#include "operations/non_sandboxable_functions.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <vector>

namespace {

using platform::ProcessID;

// File browsers keep the files they show open; that must not make a download
// look busy.
constexpr std::array<std::string_view, 3> kExcludedApplicationNames { "cFinder", "Finder", "cPath Finder" };

std::vector<ProcessID> excludedProcesses(const platform::RunningApplications& applications)
{
    std::vector<ProcessID> excluded;
    for (auto const& application : applications.list()) {
        auto const& name = application.displayName;
        if (std::ranges::find(kExcludedApplicationNames, name) != kExcludedApplicationNames.end())
            excluded.push_back(application.processIdentifier);
    }
    return excluded;
}

// When the system cannot tell who holds the file, an existing file is
// assumed to be in use rather than free to touch.
bool assumedBusy(const platform::FileManager& fileManager, const std::string& path)
{
    return fileManager.kindOfPath(path) == platform::PathKind::NotDirectory;
}

} // namespace

bool NonSandboxableFunctions::fileBusy(OperationsPlatform& platform, const std::string& path)
{
    // Only whether anyone else holds the file matters, so the scan ends at the
    // first holder that is not a file browser. The running applications are
    // read only once there is a holder to judge: most files have none.
    std::optional<std::vector<ProcessID>> excluded;
    bool busy = false;
    bool answered = platform.openFileHolders.forEachHolder(path, [&](ProcessID holder) {
        if (!excluded)
            excluded = excludedProcesses(platform.applications);
        if (std::ranges::find(*excluded, holder) != excluded->end())
            return platform::OpenFileHolders::Scan::Continue;
        busy = true;
        return platform::OpenFileHolders::Scan::Stop;
    });
    if (!answered)
        return assumedBusy(platform.fileManager, path);
    return busy;
}
