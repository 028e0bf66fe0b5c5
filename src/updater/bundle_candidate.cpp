#include "updater/bundle_candidate.h"

#include "platform/bundle.h"
#include "updater/version_order.h"

#include <filesystem>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace updater {

namespace {

std::vector<fs::path> topLevelBundles(const fs::path& folder, std::error_code& error)
{
    std::vector<fs::path> bundles;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == ".app")
            bundles.push_back(it->path());
    }
    return bundles;
}

bool isExecutableFile(const std::string& path)
{
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && (status.st_mode & S_IXUSR) != 0;
}

CandidateOutcome refused(std::string why) { return { std::nullopt, std::move(why) }; }

} // namespace

CandidateOutcome findUpdateBundle(const std::string& unpackedFolder, const CandidateExpectations& expected)
{
    std::error_code error;
    auto bundles = topLevelBundles(unpackedFolder, error);
    if (error)
        return refused("cannot list the unpacked update");
    if (bundles.size() != 1)
        return refused("the update holds " + std::to_string(bundles.size()) + " bundles, not one");
    const std::string bundle = bundles.front().string();
    if (!fs::is_directory(fs::symlink_status(bundles.front())))
        return refused("the update's bundle is not a folder");
    auto info = platform::readInfoDictionary(bundle + "/Contents/Info.plist");
    if (!info)
        return refused("the update's bundle has no readable Info.plist");
    auto identifier = info->string("CFBundleIdentifier");
    if (!identifier || *identifier != expected.bundleIdentifier)
        return refused("the update is another application: " + identifier.value_or("(no identifier)"));
    auto version = info->string("CFBundleVersion");
    if (!version || *version != expected.itemVersion)
        return refused("the update's version " + version.value_or("(none)") + " is not the announced " + expected.itemVersion);
    if (compareVersions(*version, expected.runningVersion) < 0)
        return refused("the update's version " + *version + " is older than " + expected.runningVersion);
    // A name with a slash would start a program outside the bundle.
    if (info->string("CFBundleExecutable").value_or("").find('/') != std::string::npos)
        return refused("the update's executable lies outside its bundle");
    if (!isExecutableFile(platform::bundleExecutablePath(bundle)))
        return refused("the update's bundle has no executable");
    return { bundle, {} };
}

} // namespace updater
