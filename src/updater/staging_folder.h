#pragma once

#include <optional>
#include <string>

namespace updater {

// A private folder beside the installed bundle, on the same file system so
// that the finished bundle can be renamed into place. Removed with
// everything in it when the object ends.
class StagingFolder {
public:
    static std::optional<StagingFolder> createBeside(const std::string& bundlePath);
    // Folders a crashed or killed update left behind.
    static void removeLeftoversBeside(const std::string& bundlePath);

    StagingFolder(StagingFolder&& other) noexcept;
    StagingFolder& operator=(StagingFolder&&) = delete;
    StagingFolder(const StagingFolder&) = delete;
    ~StagingFolder();

    const std::string& path() const { return m_path; }

private:
    explicit StagingFolder(std::string path)
        : m_path(std::move(path))
    {
    }
    std::string m_path;
};

} // namespace updater
