#pragma once

// Real Flatpak applications made offline: a runtime of busybox alone,
// exported to a local repository and installed for a user installation of
// the test's own, and applications on it that run a shell script. Flatpak
// runs them in the sandbox it gives every application: bubblewrap, a mount
// and PID namespace of their own, /.flatpak-info.

#include "support/child_process.h"
#include "support/temporary_directory.h"

#include <sys/utsname.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

class FlatpakApps {
public:
    static constexpr const char* kRuntime = "org.ferrowind.TestPlatform";

    FlatpakApps()
    {
        m_ready = std::filesystem::exists("/usr/bin/flatpak") && std::filesystem::exists("/bin/busybox") && makeRuntime();
    }

    bool ready() const { return m_ready; }

    // Why bubblewrap cannot make the sandbox flatpak runs applications in
    // (its own words: no user namespaces for a user in a chroot, no
    // pivot_root for root in one), or nothing when it can.
    std::optional<std::string> sandboxRefusal() const
    {
        const auto log = (m_folder.path() / "bwrap.log").string();
        ChildProcess probe("/usr/bin/bwrap", { "--unshare-user-try", "--unshare-pid", "--unshare-ipc", "--ro-bind", "/", "/", "--proc", "/proc", "--dev", "/dev", "/bin/true" },
            { .outputs = { { 2, log } } });
        const auto status = probe.reapWithin(std::chrono::seconds(20));
        if (status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
            return std::nullopt;
        std::string reason;
        std::getline(std::ifstream(log), reason);
        return reason.empty() ? "bwrap failed" : reason;
    }

    // What every flatpak command of the test runs with: home, caches and the
    // user installation (in its usual place, $XDG_DATA_HOME/flatpak) inside
    // the test's folder.
    Environment environment() const
    {
        const auto root = m_folder.path();
        return { { "HOME", (root / "home").string() }, { "XDG_DATA_HOME", (root / "home/.local/share").string() }, { "XDG_CACHE_HOME", (root / "home/.cache").string() },
            { "XDG_CONFIG_HOME", (root / "home/.config").string() } };
    }

    // Installs an application `id` with network access whose command runs
    // `script` with busybox's sh; `programs` are copied to its /app/bin.
    bool install(const std::string& id, const std::string& script, const std::vector<std::filesystem::path>& programs = {})
    {
        const auto build = m_folder.path() / ("build-" + id);
        if (!flatpak({ "build-init", build.string(), id, kRuntime, kRuntime, "1" }))
            return false;
        std::filesystem::create_directories(build / "files/bin");
        std::ofstream(build / "files/bin/run") << "#!/bin/sh\n"
                                               << script << "\n";
        std::filesystem::permissions(build / "files/bin/run", std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
        for (const auto& program : programs)
            std::filesystem::copy_file(program, build / "files/bin" / program.filename());
        return flatpak({ "build-finish", build.string(), "--share=network", "--command=run" })
            && flatpak({ "build-export", repository(), build.string() })
            && flatpak({ "--user", "install", "-y", "--noninteractive", "local", id });
    }

    // Runs the installed application `id` and waits for it to end.
    bool run(const std::string& id, std::chrono::seconds bound = std::chrono::seconds(20)) const
    {
        return flatpak({ "run", id }, bound);
    }
    // Starts it without waiting.
    ChildProcess start(const std::string& id) const
    {
        const auto log = (m_folder.path() / "flatpak.log").string();
        return ChildProcess("/usr/bin/flatpak", { "run", id }, { environment(), { { 1, log }, { 2, log } } });
    }
    // Where the bus looks for the services the user's applications export.
    std::filesystem::path sessionServices() const { return m_folder.path() / "home/.local/share/dbus-1/services"; }

    // Lends `file` to the application `id` through the document portal of
    // the session bus; the path the portal gives it under on the host.
    std::optional<std::string> exportDocument(const std::string& id, const std::filesystem::path& file) const
    {
        const auto printed = m_folder.path() / "exported";
        ChildProcess command("/usr/bin/flatpak", { "document-export", "--app=" + id, file.string() }, { environment(), { { 1, printed.string() } } });
        const auto status = command.reapWithin(std::chrono::seconds(20));
        std::string path;
        if (!status || *status != 0 || !std::getline(std::ifstream(printed) >> std::ws, path))
            return std::nullopt;
        return path;
    }

    // The application's own data folder as the host sees it ($XDG_DATA_HOME
    // inside its sandbox).
    std::filesystem::path dataFolder(const std::string& id) const { return m_folder.path() / "home/.var/app" / id / "data"; }

private:
    std::string repository() const { return (m_folder.path() / "repository").string(); }

    bool flatpak(std::vector<std::string> arguments, std::chrono::seconds bound = std::chrono::seconds(60)) const
    {
        const auto log = (m_folder.path() / "flatpak.log").string();
        ChildProcess command("/usr/bin/flatpak", std::move(arguments), { environment(), { { 1, log }, { 2, log } } });
        const auto status = command.reapWithin(bound);
        return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
    }

    // A runtime is a /usr of its own: busybox and its applets are all the
    // applications' scripts need.
    bool makeRuntime()
    {
        const auto runtime = m_folder.path() / "runtime";
        std::filesystem::create_directories(runtime / "usr/bin");
        std::filesystem::create_directories(runtime / "files");
        std::filesystem::copy_file("/bin/busybox", runtime / "usr/bin/busybox");
        for (const char* applet : { "sh", "cat", "echo", "nc", "sleep", "printf", "ls", "ln", "mkdir" })
            std::filesystem::create_symlink("busybox", runtime / "usr/bin" / applet);
        utsname system {};
        uname(&system);
        const std::string reference = std::string(kRuntime) + "/" + system.machine + "/1";
        std::ofstream(runtime / "metadata") << "[Runtime]\nname=" << kRuntime << "\nruntime=" << reference << "\nsdk=" << reference << "\n";
        return flatpak({ "build-export", "--runtime", repository(), runtime.string(), "1" })
            && flatpak({ "--user", "remote-add", "--no-gpg-verify", "local", "file://" + repository() })
            && flatpak({ "--user", "install", "-y", "--noninteractive", "local", kRuntime });
    }

    TemporaryDirectory m_folder;
    bool m_ready { false };
};

} // namespace testing_support
