#pragma once

// The media player is looked for at its fixed place only. This puts the
// stand-in application there, in a mount namespace of the test process's
// own (made here), so that nothing outside it and its children sees it, and
// tells how each player it started was started.

#include "support/eventually.h"
#include "support/temporary_directory.h"
#include "support/text_files.h"

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

class StandInPlayer {
public:
    static constexpr const char* kFolder = "/usr/bin";
    static constexpr const char* kProgram = "/usr/bin/vlc";

    StandInPlayer()
    {
        if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            m_refusal = "needs a mount namespace of its own";
            return;
        }
        const auto layer = m_folder.path() / "layer";
        std::filesystem::create_directories(layer);
        if (mount("tmpfs", layer.c_str(), "tmpfs", 0, nullptr) != 0) {
            m_refusal = "cannot mount a tmpfs";
            return;
        }
        std::filesystem::create_directories(layer / "upper");
        std::filesystem::create_directories(layer / "work");
        const std::string options = "lowerdir=" + std::string(kFolder) + ",upperdir=" + (layer / "upper").string() + ",workdir=" + (layer / "work").string();
        if (mount("overlay", kFolder, "overlay", 0, options.c_str()) != 0) {
            m_refusal = std::string("cannot lay a writable layer over ") + kFolder;
            return;
        }
        // Whatever a real installation put there is hidden by the stand-in.
        std::filesystem::remove_all(kProgram);
    }
    ~StandInPlayer()
    {
        if (m_refusal)
            return;
        for (const pid_t player : players())
            kill(player, SIGKILL);
        umount2(kFolder, MNT_DETACH);
        umount2((m_folder.path() / "layer").c_str(), MNT_DETACH);
    }
    StandInPlayer(const StandInPlayer&) = delete;
    StandInPlayer& operator=(const StandInPlayer&) = delete;

    // Why the player cannot be put in place here, for the test to skip.
    const std::optional<std::string>& refusal() const { return m_refusal; }
    void install() const { std::filesystem::copy_file(STAND_IN_APPLICATION, kProgram); }

    // The players started so far and the arguments each was given.
    std::map<pid_t, std::vector<std::string>> launches() const
    {
        std::map<pid_t, std::vector<std::string>> found;
        for (auto const& entry : std::filesystem::directory_iterator(kFolder)) {
            const auto name = entry.path().filename().string();
            if (!name.starts_with("arguments.") || name.ends_with(".partial"))
                continue;
            const auto text = readTextFile(entry.path());
            std::vector<std::string> arguments;
            for (std::size_t start = 0, end; (end = text.find('\0', start)) != std::string::npos; start = end + 1)
                arguments.push_back(text.substr(start, end - start));
            found[std::stoi(name.substr(std::strlen("arguments.")))] = arguments;
        }
        return found;
    }

    std::vector<pid_t> players() const
    {
        std::vector<pid_t> pids;
        for (auto const& [pid, arguments] : launches())
            pids.push_back(pid);
        return pids;
    }

    // The arguments of the last of `count` players, once that many started.
    std::vector<std::string> awaitLaunch(std::size_t count) const
    {
        eventually([&] { return launches().size() >= count; }, std::chrono::seconds(5));
        const auto found = launches();
        return found.size() == count ? std::prev(found.end())->second : std::vector<std::string> {};
    }

    // The first bytes of the file a player opened, empty when it opened none.
    std::string openedBy(pid_t player) const
    {
        const auto record = std::filesystem::path(kFolder) / ("opened." + std::to_string(player));
        return std::filesystem::exists(record) ? readTextFile(record) : std::string();
    }

private:
    TemporaryDirectory m_folder { "ferrowind-player" };
    std::optional<std::string> m_refusal;
};

} // namespace testing_support
