#include "operations/non_sandboxable_functions.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using platform::OpenFileHolders;
using platform::ProcessID;

// File browsers keep the files they show open; that must not make a download
// look busy.
constexpr std::array<std::string_view, 3> kExcludedApplicationNames { "cFinder", "Finder", "cPath Finder" };

std::vector<ProcessID> runningFileBrowsers(const platform::RunningApplications& applications)
{
    std::vector<ProcessID> browsers;
    for (auto const& application : applications.list()) {
        if (std::ranges::find(kExcludedApplicationNames, application.displayName) != kExcludedApplicationNames.end())
            browsers.push_back(application.processIdentifier);
    }
    return browsers;
}

// When the system cannot tell who holds the file, an existing file is
// assumed to be in use rather than free to touch; so is one on a server that
// does not answer, which cannot be shown to be free.
bool assumedBusy(const platform::FileManager& fileManager, const std::string& path)
{
    auto kind = fileManager.kindOfPath(path);
    return kind == platform::PathKind::NotDirectory || kind == platform::PathKind::Unreachable;
}

struct HolderSearch {
    OpenFileHolders::Query query;
    bool found;
};

// Whether any of `among` holds the file; one holder is enough to know.
HolderSearch findHolder(OperationsPlatform& platform, const std::string& path, const OpenFileHolders::Processes& among)
{
    bool found = false;
    auto query = platform.openFileHolders.forEachHolder(path, among, [&](ProcessID) {
        found = true;
        return OpenFileHolders::Scan::Stop;
    });
    return { query, found };
}

// The answer for a file whose holders could not be looked for.
bool answerUnlooked(OperationsPlatform& platform, const std::string& path, OpenFileHolders::Query query)
{
    // A path on a silent server: asking again would only wait again.
    return query == OpenFileHolders::Query::unreachable || assumedBusy(platform.fileManager, path);
}

} // namespace

bool NonSandboxableFunctions::fileBusy(OperationsPlatform& platform, const std::string& path)
{
    using Openers = OpenFileHolders::Openers;
    using Processes = OpenFileHolders::Processes;
    using Query = OpenFileHolders::Query;
    // Most files asked about are held by nobody, which the kernel can tell
    // at once.
    auto openers = platform.openFileHolders.otherOpeners(path);
    if (openers == Openers::none)
        return false;
    if (openers == Openers::unreachable)
        return true;
    auto browsers = runningFileBrowsers(platform.applications);
    if (openers == Openers::some) {
        // Somebody holds the file. Unless a file browser is among the
        // holders, that somebody counts, whoever it is: a process of another
        // user that we may not look into is no file browser of this user
        // either. No file browser runs on most desktops, so most held files
        // are answered without looking into any process.
        if (browsers.empty())
            return true;
        auto browserHolding = findHolder(platform, path, Processes::only(browsers));
        if (browserHolding.query != Query::answered)
            return answerUnlooked(platform, path, browserHolding.query);
        if (!browserHolding.found)
            return true;
    }
    // A file browser holds it too, or the kernel could not tell whether
    // anyone does: only another holder we can find makes it busy.
    auto otherHolding = findHolder(platform, path, Processes::allBut(std::move(browsers)));
    if (otherHolding.query != Query::answered)
        return answerUnlooked(platform, path, otherHolding.query);
    return otherHolding.found;
}
