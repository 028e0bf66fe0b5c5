#pragma once

// A real GNOME Shell, headless on a virtual monitor, with Xwayland: its own
// runtime folder, home, session bus and a system bus of the test's (the
// Shell looks for logind and UPower there and gets on without them). The
// helper's extension is put in place and enabled as the installer does it,
// before the Shell starts: a Shell loads new extensions only at start.

#include "support/child_process.h"
#include "support/eventually.h"
#include "support/scoped_environment.h"
#include "support/temporary_directory.h"
#include "support/text_files.h"
#include "support/x_socket_folder.h"

#include "platform/linux_platform.h"

#include <sys/mount.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

class GnomeShellSession {
public:
    static constexpr const char* kExtensionBus = "com.Ferrowind.FerrowindHelper.Windows";

    // `helperBundle`: where the extension is installed from.
    explicit GnomeShellSession(const std::string& helperBundle)
    {
        // Without PID and mount namespaces of its own the Shell would find
        // the machine's logind and session.
        if (!std::filesystem::exists("/usr/bin/gnome-shell") || getpid() != 1)
            return;
        const auto folder = m_folder.path();
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
        ownXSocketFolder();
        mount("tmpfs", "/run/systemd", "tmpfs", 0, nullptr);
        for (const auto& [name, value] : sessionEnvironment())
            m_scoped.push_back(std::make_unique<ScopedEnvironment>(name.c_str(), value));
        for (const char* bus : { "system_bus", "bus" })
            m_buses.emplace_back("/usr/bin/dbus-daemon", std::vector<std::string> { "--session", "--nofork", "--address=unix:path=" + (folder / bus).string() },
                ChildOptions { .outputs = { { 2, "/dev/null" } }, .endSignal = SIGTERM });
        if (!eventually([&] { return std::filesystem::exists(folder / "bus") && std::filesystem::exists(folder / "system_bus"); }))
            return;
        m_extensionInstalled = platform::gnomeShellExtensionRegistration().install(helperBundle);
        m_shell.emplace("/usr/bin/gnome-shell", std::vector<std::string> { "--headless", "--wayland", "--virtual-monitor", "1280x800", "--wayland-display=wayland-test" },
            ChildOptions { .outputs = { { 1, log().string() }, { 2, log().string() } }, .endSignal = SIGTERM });
        m_ready = eventually([&] { return extensionAnswers(); }, std::chrono::seconds(30));
    }

    bool extensionInstalled() const { return m_extensionInstalled; }
    // The Shell runs with the extension loaded.
    bool ready() const { return m_ready; }
    std::filesystem::path log() const { return m_folder.path() / "gnome-shell.log"; }

    // What a client of the session runs with.
    Environment clientEnvironment() const
    {
        return { { "WAYLAND_DISPLAY", "wayland-test" }, { "DISPLAY", xDisplay() }, { "XAUTHORITY", xAuthority() },
            { "QT_QPA_PLATFORM", "wayland" } };
    }

    // The process of the focused window, as the extension tells the helper;
    // asked with another program, as it tells that one.
    std::optional<pid_t> focusedProcess(const std::optional<std::string>& asker = std::nullopt) const
    {
        std::FILE* pipe = popen(("'" + asker.value_or(helperNamedBusClient()) + "' call --session -d " + std::string(kExtensionBus) + " -o /com/Ferrowind/FerrowindHelper/Windows -m "
                                    + kExtensionBus + ".FocusedProcess 2>/dev/null")
                                    .c_str(),
            "r");
        long pid = -1;
        const bool read = pipe && std::fscanf(pipe, "(uint32 %ld,)", &pid) == 1;
        if (pipe)
            pclose(pipe);
        return read ? std::optional<pid_t>(static_cast<pid_t>(pid)) : std::nullopt;
    }

private:
    bool extensionAnswers() const { return focusedProcess().has_value(); }

    // The extension answers the helper's executable alone: gdbus under its
    // name asks as the helper would.
    std::string helperNamedBusClient() const
    {
        const auto copy = m_folder.path() / "Ferrowind Helper.app/Contents/MacOS/Ferrowind Helper";
        if (!std::filesystem::exists(copy)) {
            std::filesystem::create_directories(copy.parent_path());
            std::filesystem::copy_file("/usr/bin/gdbus", copy);
        }
        return copy.string();
    }

    // Mutter names the X display it took in its log.
    std::string xDisplay() const
    {
        const auto text = readTextFile(log());
        const auto at = text.find("Using public X11 display ");
        if (at == std::string::npos)
            return "";
        const auto start = at + std::string("Using public X11 display ").size();
        return text.substr(start, text.find_first_of(", \n", start) - start);
    }

    // Mutter's Xwayland lets in only who holds its cookie.
    std::string xAuthority() const
    {
        for (const auto& entry : std::filesystem::directory_iterator(m_folder.path())) {
            if (entry.path().filename().string().starts_with(".mutter-Xwaylandauth."))
                return entry.path().string();
        }
        return "";
    }

    // The test process is the session's: the extension is installed, and
    // the helper's activation asks, through these.
    Environment sessionEnvironment() const
    {
        const auto folder = m_folder.path();
        return { { "XDG_RUNTIME_DIR", folder.string() }, { "HOME", (folder / "home").string() },
            { "XDG_CONFIG_HOME", (folder / "home/.config").string() }, { "XDG_CACHE_HOME", (folder / "home/.cache").string() },
            { "XDG_DATA_HOME", (folder / "home/.local/share").string() },
            { "DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (folder / "bus").string() },
            { "DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (folder / "system_bus").string() } };
    }

    TemporaryDirectory m_folder { "ferrowind-gnome-shell" };
    std::vector<std::unique_ptr<ScopedEnvironment>> m_scoped;
    std::vector<ChildProcess> m_buses;
    std::optional<ChildProcess> m_shell;
    bool m_extensionInstalled { false };
    bool m_ready { false };
};

} // namespace testing_support
