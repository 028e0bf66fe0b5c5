#include "updater/staging_folder.h"

#include "platform/file_system.h"
#include "updater/tree_removal.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace updater {

namespace {

// Hidden, and named after the bundle so leftovers are known as ours.
std::string stagingPrefix(const fs::path& bundle) { return "." + bundle.filename().string() + ".update-"; }

fs::path withoutTrailingSlash(const std::string& path) { return fs::path(path).lexically_normal().parent_path() / fs::path(path).lexically_normal().filename(); }

} // namespace

std::optional<StagingFolder> StagingFolder::createBeside(const std::string& bundlePath)
{
    const fs::path bundle = withoutTrailingSlash(bundlePath);
    auto folder = platform::makeUniqueFolder((bundle.parent_path() / stagingPrefix(bundle)).string());
    if (!folder)
        return std::nullopt;
    return StagingFolder(std::move(*folder));
}

void StagingFolder::removeLeftoversBeside(const std::string& bundlePath)
{
    const fs::path bundle = withoutTrailingSlash(bundlePath);
    const std::string prefix = stagingPrefix(bundle);
    std::error_code error;
    std::vector<fs::path> leftovers;
    for (fs::directory_iterator it(bundle.parent_path(), error), end; !error && it != end; it.increment(error)) {
        if (it->path().filename().string().starts_with(prefix))
            leftovers.push_back(it->path());
    }
    for (auto const& leftover : leftovers)
        removeTreeOnce(leftover);
}

StagingFolder::StagingFolder(StagingFolder&& other) noexcept
    : m_path(std::move(other.m_path))
{
    other.m_path.clear();
}

StagingFolder::~StagingFolder() { remove(); }

void StagingFolder::remove()
{
    if (m_path.empty())
        return;
    removeTreeOnce(m_path);
    m_path.clear();
}

} // namespace updater
