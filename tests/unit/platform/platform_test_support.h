#pragma once

// Scratch folders, property lists, bundles and child processes: the platform
// tests work on the real system rather than on fakes.

#include <plist/plist.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace platform::testing {

class TemporaryDirectory {
public:
    TemporaryDirectory()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ferrowind-platform-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TemporaryDirectory() { std::filesystem::remove_all(m_path); }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline void writeTextFile(const std::string& path, const std::string& contents)
{
    std::ofstream(path, std::ios::binary) << contents;
}

inline std::string readTextFile(const std::string& path)
{
    std::ostringstream contents;
    contents << std::ifstream(path, std::ios::binary).rdbuf();
    return contents.str();
}

// Writes `root` as XML or binary and frees it.
inline void writePlist(const std::string& path, plist_t root, bool binary = false)
{
    char* data = nullptr;
    uint32_t length = 0;
    binary ? plist_to_bin(root, &data, &length) : plist_to_xml(root, &data, &length);
    plist_free(root);
    writeTextFile(path, std::string(data, length));
    std::free(data);
}

// Creates `<folder>/<name>.app/Contents/MacOS`, with an Info.plist of string
// entries unless `info` is empty, and returns the bundle path.
inline std::string makeBundle(const std::filesystem::path& folder, const std::string& name,
                              const std::map<std::string, std::string>& info)
{
    const auto bundle = folder / (name + ".app");
    std::filesystem::create_directories(bundle / "Contents" / "MacOS");
    if (info.empty())
        return bundle.string();
    plist_t root = plist_new_dict();
    for (const auto& [key, value] : info)
        plist_dict_set_item(root, key.c_str(), plist_new_string(value.c_str()));
    writePlist((bundle / "Contents" / "Info.plist").string(), root);
    return bundle.string();
}

// Lazily unmounts a FUSE mount of the test's; one already gone is what we
// want, so the outcome is not examined.
inline void unmountFuse(const std::string& folder)
{
    [[maybe_unused]] const int unmounted = std::system(("fusermount3 -uz '" + folder + "' 2>/dev/null").c_str());
}

// Polls until `condition` holds; false if it still does not after `bound`.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds bound = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Whether this process may become `user`: root, and `user` exists in its user
// namespace. Inside a namespace where a developer was mapped to root, only
// root itself does.
inline bool mayBecomeUser(uid_t user)
{
    if (getuid() != 0)
        return false;
    std::ifstream map("/proc/self/uid_map");
    for (std::uint64_t inside, outside, count; map >> inside >> outside >> count;) {
        if (user >= inside && user - inside < count)
            return true;
    }
    return false;
}

// A child process of the test, killed and reaped at the end of its scope
// unless the test reaped it already.
class ChildProcess {
public:
    ChildProcess(std::string program, std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), program);
        std::vector<char*> argv;
        for (auto& text : arguments)
            argv.push_back(text.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("cannot start " + program);
    }
    explicit ChildProcess(pid_t forked)
        : m_pid(forked)
    {
    }
    ~ChildProcess()
    {
        if (m_pid > 0 && kill(m_pid, SIGKILL) == 0)
            waitpid(m_pid, nullptr, 0);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }

    // The status waitpid reports, if the child exits within `bound`.
    std::optional<int> reapWithin(std::chrono::milliseconds bound)
    {
        int status = 0;
        if (!eventually([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, bound))
            return std::nullopt;
        m_pid = -1;
        return status;
    }

    // Ends the child but leaves it unreaped: a zombie.
    void killLeavingZombie() const
    {
        kill(m_pid, SIGKILL);
        siginfo_t info {};
        waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOWAIT);
    }

private:
    pid_t m_pid {-1};
};

} // namespace platform::testing
