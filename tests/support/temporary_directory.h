#pragma once

// A scratch folder of the test's own, removed with all it holds at the end.

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace testing_support {

class TemporaryDirectory {
public:
    // `label` starts the folder's name, so a folder left by a crash tells
    // which tests made it.
    explicit TemporaryDirectory(const std::string& label = "ferrowind-platform")
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (label + "-XXXXXX")).string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        // Canonical, so it compares equal to what /proc reports of the files in it.
        m_path = std::filesystem::canonical(pattern);
    }
    ~TemporaryDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

} // namespace testing_support
