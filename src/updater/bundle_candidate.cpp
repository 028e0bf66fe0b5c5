#include "updater/bundle_candidate.h"

#include "platform/bundle.h"
#include "updater/version_order.h"

#include <filesystem>
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

// A link is not followed: it could lead out of the bundle.
bool isExecutableFile(const std::string& path)
{
    std::error_code error;
    const auto status = fs::symlink_status(path, error);
    return !error && fs::is_regular_file(status) && (status.permissions() & fs::perms::owner_exec) != fs::perms::none;
}

support::Failure refused(std::string why) { return support::failure(std::move(why)); }

} // namespace

support::Outcome<std::string> findUpdateBundle(const std::string& unpackedFolder, const CandidateExpectations& expected)
{
    std::error_code error;
    auto bundles = topLevelBundles(unpackedFolder, error);
    if (error)
        return refused("cannot list the unpacked update");
    if (bundles.size() != 1)
        return refused("the update holds " + std::to_string(bundles.size()) + " bundles where one was expected");
    const std::string bundle = bundles.front().string();
    if (!fs::is_directory(fs::symlink_status(bundles.front())))
        return refused("the update's bundle is not a folder");
    auto info = platform::readInfoDictionary(platform::bundleInfoPlistPath(bundle));
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
    return bundle;
}

} // namespace updater
