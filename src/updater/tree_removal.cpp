#include "updater/tree_removal.h"

#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace updater {

void removeTreeOnce(const fs::path& root)
{
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(root, error))) {
        fs::remove(root, error);
        return;
    }
    // Listed whole before anything goes, so entries that appear meanwhile
    // cannot keep the walk going.
    std::vector<fs::path> files;
    std::vector<fs::path> folders { root };
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        std::error_code ignored;
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            folders.push_back(it->path());
        else
            files.push_back(it->path());
    }
    for (auto const& file : files)
        fs::remove(file, error);
    // Deepest first: a folder is listed after the one holding it.
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        fs::remove(*folder, error);
}

} // namespace updater
