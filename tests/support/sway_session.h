#pragma once

// A real sway, headless, in a runtime folder of the test's own, with
// Xwayland: the compositor of a Wayland session that raises windows only
// through its IPC socket. sway refuses to run as root, so it runs in a user
// namespace of its own where the test's user is "nobody".

#include "support/child_process.h"
#include "support/eventually.h"
#include "support/temporary_directory.h"

#include <sys/types.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace testing_support {

class SwaySession {
public:
    SwaySession()
    {
        if (!std::filesystem::exists("/usr/bin/sway") || !std::filesystem::exists("/usr/bin/swaymsg"))
            return;
        const auto folder = m_runtime.path();
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
        std::ofstream(folder / "config") << "xwayland enable\n";
        const Environment environment { { "XDG_RUNTIME_DIR", folder.string() }, { "WLR_BACKENDS", "headless" },
            { "WLR_LIBINPUT_NO_DEVICES", "1" }, { "WLR_RENDERER", "pixman" }, { "WAYLAND_DISPLAY", "" }, { "DISPLAY", "" } };
        m_sway.emplace("/usr/bin/unshare",
            std::vector<std::string> { "--user", "--map-user=65534", "--map-group=65534", "--", "/usr/bin/sway", "-c", (folder / "config").string() },
            ChildOptions { environment, { { 1, (folder / "sway.log").string() }, { 2, (folder / "sway.log").string() } }, SIGTERM });
        eventually([&] { return (m_socket = findSocket()).has_value(); }, std::chrono::seconds(10));
    }

    // The IPC socket, once sway listens on it.
    const std::optional<std::string>& socket() const { return m_socket; }
    std::filesystem::path log() const { return m_runtime.path() / "sway.log"; }

    // Runs a sway command (`exec …` starts a client in the session).
    bool command(const std::string& text) const { return std::system(("/usr/bin/swaymsg -q -s " + *m_socket + " '" + text + "'").c_str()) == 0; }

    // The process of the window of `criterion` (`app_id` of a Wayland
    // window, or `shell` "xwayland") in the layout tree, or of the focused
    // window for "focused".
    std::optional<pid_t> windowProcess(const std::string& key, const std::string& value = "") const
    {
        const std::string script = "import json,sys\n"
                                   "key, value = sys.argv[1], sys.argv[2]\n"
                                   "def walk(n):\n"
                                   "    if n.get('pid') and (n.get(key) is True if key == 'focused' else n.get(key) == value): print(n['pid'])\n"
                                   "    for c in n.get('nodes', []) + n.get('floating_nodes', []): walk(c)\n"
                                   "walk(json.load(sys.stdin))\n";
        const std::string command = "/usr/bin/swaymsg -s " + *m_socket + " -t get_tree | python3 -c \"" + script + "\" " + key + " '" + value + "'";
        std::FILE* pipe = popen(command.c_str(), "r");
        long pid = 0;
        const bool found = pipe && std::fscanf(pipe, "%ld", &pid) == 1;
        if (pipe)
            pclose(pipe);
        return found ? std::optional<pid_t>(static_cast<pid_t>(pid)) : std::nullopt;
    }

private:
    std::optional<std::string> findSocket() const
    {
        for (const auto& entry : std::filesystem::directory_iterator(m_runtime.path())) {
            if (entry.path().filename().string().starts_with("sway-ipc.") && entry.is_socket())
                return entry.path().string();
        }
        return std::nullopt;
    }

    TemporaryDirectory m_runtime { "ferrowind-sway" };
    std::optional<ChildProcess> m_sway;
    std::optional<std::string> m_socket;
};

} // namespace testing_support
