#pragma once

// Real processes holding a test file, started from a copy of the file_holder
// program saved under the display name the test wants ("Finder", say).

#include "unit/platform/platform_test_support.h"

#include <filesystem>
#include <memory>
#include <string>

namespace support {

class FileHolderProcess {
public:
    // mode: "open", "map" or "watch".
    FileHolderProcess(const std::filesystem::path& scratch, const std::string& displayName, const std::string& mode,
        const std::string& path)
    {
        static int started = 0;
        auto folder = scratch / ("holder-" + std::to_string(++started));
        std::filesystem::create_directories(folder);
        auto program = folder / displayName;
        std::filesystem::copy_file(FILE_HOLDER_PROGRAM, program);
        auto ready = folder / "ready";
        m_process = std::make_unique<platform::testing::ChildProcess>(program.string(),
            std::vector<std::string> { mode, path, ready.string() });
        if (!platform::testing::eventually([&] { return std::filesystem::exists(ready); }))
            throw std::runtime_error("file holder did not start");
    }

    pid_t pid() const { return m_process->pid(); }

private:
    std::unique_ptr<platform::testing::ChildProcess> m_process;
};

} // namespace support
