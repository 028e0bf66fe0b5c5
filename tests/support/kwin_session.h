#pragma once

// A real KWin (kwin_wayland), on a virtual output, with Xwayland, its own
// runtime folder, home and session bus: the compositor of a Plasma session.

#include "support/child_process.h"
#include "support/eventually.h"
#include "support/temporary_directory.h"
#include "support/text_files.h"
#include "support/x_socket_folder.h"

#include <sys/types.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace testing_support {

class KWinSession {
public:
    KWinSession()
    {
        if (!std::filesystem::exists("/usr/bin/kwin_wayland") || !std::filesystem::exists("/usr/bin/dbus-daemon"))
            return;
        const auto folder = m_folder.path();
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
        std::filesystem::create_directories(folder / "home");
        ownXSocketFolder();
        m_bus.emplace("/usr/bin/dbus-daemon", std::vector<std::string> { "--session", "--nofork", "--address=" + busAddress() },
            ChildOptions { .outputs = { { 2, "/dev/null" } }, .endSignal = SIGTERM });
        if (!eventually([&] { return std::filesystem::exists(folder / "bus"); }))
            return;
        // The packaged binary carries a file capability, which a user
        // namespace may refuse to exec; a plain copy runs anywhere.
        std::filesystem::copy_file("/usr/bin/kwin_wayland", folder / "kwin_wayland");
        // KWin starts the session's first program with its X display set;
        // ours says which that is.
        const auto display = folder / "display";
        const auto program = folder / "session.sh";
        std::ofstream(program) << "#!/bin/sh\necho \"$DISPLAY\" > " << display << ".part && mv " << display << ".part " << display
                               << "\nexec sleep 600\n";
        std::filesystem::permissions(program, std::filesystem::perms::owner_all);
        m_kwin.emplace((folder / "kwin_wayland").string(),
            std::vector<std::string> { "--virtual", "--xwayland", "--socket", "wayland-test", program.string() },
            ChildOptions { sessionEnvironment(), { { 1, log().string() }, { 2, log().string() } }, SIGTERM });
        eventually([&] { return std::filesystem::exists(display); }, std::chrono::seconds(20));
        if (std::filesystem::exists(display))
            m_display = readTextFile(display).substr(0, readTextFile(display).find('\n'));
    }

    bool ready() const { return !m_display.empty(); }
    // What a client of the session runs with: its Wayland socket, its X
    // display, its bus.
    Environment environment() const
    {
        auto environment = sessionEnvironment();
        for (auto& [name, value] : environment) {
            if (name == "WAYLAND_DISPLAY")
                value = "wayland-test";
            else if (name == "DISPLAY")
                value = m_display;
            else if (name == "QT_QPA_PLATFORM")
                value = "wayland";
        }
        return environment;
    }
    std::string busAddress() const { return "unix:path=" + (m_folder.path() / "bus").string(); }
    std::filesystem::path log() const { return m_folder.path() / "kwin.log"; }

    // The process of the active window, as a script in KWin tells it.
    std::optional<pid_t> activeWindowProcess()
    {
        const auto marker = "active-" + std::to_string(++m_queries) + ": ";
        const auto script = m_folder.path() / ("query-" + std::to_string(m_queries) + ".js");
        std::ofstream(script) << "const active = workspace.activeWindow !== undefined ? workspace.activeWindow : workspace.activeClient;\n"
                              << "print('" << marker << "' + (active ? active.pid : 0));\n";
        const std::string call = "DBUS_SESSION_BUS_ADDRESS=" + busAddress() + " gdbus call --session -d org.kde.KWin -o ";
        const std::string name = "ferrowind-query-" + std::to_string(m_queries);
        std::string id;
        {
            std::FILE* pipe = popen((call + "/Scripting -m org.kde.kwin.Scripting.loadScript " + script.string() + " " + name).c_str(), "r");
            char buffer[64] {};
            if (pipe && std::fgets(buffer, sizeof buffer, pipe))
                for (char c : std::string(buffer))
                    if (std::isdigit(static_cast<unsigned char>(c)))
                        id += c;
            if (pipe)
                pclose(pipe);
        }
        if (id.empty())
            return std::nullopt;
        const std::string run = call + "/Scripting/Script" + id + " -m org.kde.kwin.Script.run >/dev/null 2>&1 || " + call + "/" + id
            + " -m org.kde.kwin.Script.run >/dev/null 2>&1";
        [[maybe_unused]] int ran = std::system(run.c_str());
        [[maybe_unused]] int unloaded = std::system((call + "/Scripting -m org.kde.kwin.Scripting.unloadScript " + name + " >/dev/null").c_str());
        std::optional<pid_t> found;
        eventually([&] {
            const auto text = readTextFile(log());
            const auto at = text.find(marker);
            if (at != std::string::npos)
                found = static_cast<pid_t>(std::atol(text.c_str() + at + marker.size()));
            return found.has_value();
        },
            std::chrono::seconds(5));
        return found;
    }

private:
    // KWin's own: a home, runtime folder and bus of the test's, and no
    // display of the test's to show itself on.
    Environment sessionEnvironment() const
    {
        const auto folder = m_folder.path();
        return { { "XDG_RUNTIME_DIR", folder.string() }, { "HOME", (folder / "home").string() },
            { "XDG_CONFIG_HOME", (folder / "home/.config").string() }, { "XDG_CACHE_HOME", (folder / "home/.cache").string() },
            { "XDG_DATA_HOME", (folder / "home/.local/share").string() }, { "DBUS_SESSION_BUS_ADDRESS", busAddress() },
            { "WAYLAND_DISPLAY", "" }, { "DISPLAY", "" }, { "QT_QPA_PLATFORM", "" } };
    }

    TemporaryDirectory m_folder { "ferrowind-kwin" };
    std::optional<ChildProcess> m_bus;
    std::optional<ChildProcess> m_kwin;
    std::string m_display;
    int m_queries { 0 };
};

} // namespace testing_support
