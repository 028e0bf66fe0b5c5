#pragma once

#include <optional>
#include <string>

namespace updater {

// A private folder beside the installed bundle, on the same file system so
// that the finished bundle can be renamed into place. Removed with
// everything in it when the object ends, in one bounded pass
// (tree_removal.h): what cannot go then goes with the leftovers at the
// next start.
class StagingFolder {
public:
    static std::optional<StagingFolder> createBeside(const std::string& bundlePath);
    // Folders a crashed or killed update left behind, the old bundle and
    // archive of a finished one included.
    static void removeLeftoversBeside(const std::string& bundlePath);

    StagingFolder(StagingFolder&& other) noexcept;
    StagingFolder& operator=(StagingFolder&&) = delete;
    StagingFolder(const StagingFolder&) = delete;
    ~StagingFolder();

    const std::string& path() const { return m_path; }
    // Now rather than when the object ends; path() is empty afterwards.
    void remove();

private:
    explicit StagingFolder(std::string path)
        : m_path(std::move(path))
    {
    }
    std::string m_path;
};

} // namespace updater
