#include "operations/non_sandboxable_functions.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

using platform::ProcessID;

// File browsers keep the files they show open; that must not make a download
// look busy.
constexpr std::array<std::string_view, 3> kExcludedApplicationNames { "cFinder", "Finder", "cPath Finder" };

bool isFileBrowser(const platform::RunningApplications& applications, ProcessID holder)
{
    auto application = applications.application(holder);
    return application
        && std::ranges::find(kExcludedApplicationNames, application->displayName) != kExcludedApplicationNames.end();
}

// When the system cannot tell who holds the file, an existing file is
// assumed to be in use rather than free to touch; so is one on a server that
// does not answer, which cannot be shown to be free.
bool assumedBusy(const platform::FileManager& fileManager, const std::string& path)
{
    auto kind = fileManager.kindOfPath(path);
    return kind == platform::PathKind::NotDirectory || kind == platform::PathKind::Unreachable;
}

} // namespace

bool NonSandboxableFunctions::fileBusy(OperationsPlatform& platform, const std::string& path)
{
    // Only whether anyone else holds the file matters, so the scan ends at the
    // first holder that is not a file browser. Each holder is judged by its
    // own application record: that costs one lookup per holder rather than a
    // listing of every application, and most files have no holder at all.
    using Query = platform::OpenFileHolders::Query;
    bool busy = false;
    auto query = platform.openFileHolders.forEachHolder(path, [&](ProcessID holder) {
        if (isFileBrowser(platform.applications, holder))
            return platform::OpenFileHolders::Scan::Continue;
        busy = true;
        return platform::OpenFileHolders::Scan::Stop;
    });
    // A path on a silent server: asking again would only wait again.
    if (query == Query::unreachable)
        return true;
    if (query == Query::failed)
        return assumedBusy(platform.fileManager, path);
    return busy;
}
