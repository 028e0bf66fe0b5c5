#pragma once

// A FUSE file system of the test's own: bindfs showing one folder at another
// (or over itself), unmounted at the end of its scope.

#include "support/child_process.h"
#include "support/eventually.h"
#include "support/temporary_directory.h"
#include "support/text_files.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace testing_support {

class BindfsMount {
public:
    BindfsMount(const std::filesystem::path& served, const std::filesystem::path& mountPoint)
        : m_mountPoint(mountPoint)
    {
        struct stat before = {};
        if (stat(mountPoint.c_str(), &before) != 0) {
            m_refusal = "no mount point " + mountPoint.string();
            return;
        }
        // Only processes of the test's own user look at the files. allow_other,
        // which bindfs asks for unless told not to, is refused to a user who
        // is not root unless /etc/fuse.conf says user_allow_other.
        m_daemon = ChildProcess::tryStart("/usr/bin/bindfs", { "--no-allow-other", "-f", served, mountPoint },
            { .outputs = { { STDERR_FILENO, m_log / "bindfs.log" } } });
        if (!m_daemon) {
            m_refusal = "bindfs is not installed";
            return;
        }
        // The mount point's device changes once the mount is there, also
        // for a folder mounted over itself.
        const auto mountedOver = [&] {
            struct stat now = {};
            return stat(mountPoint.c_str(), &now) == 0 && now.st_dev != before.st_dev;
        };
        std::optional<int> ended;
        m_mounted = eventually([&] { return mountedOver() || (ended = m_daemon->reapWithin({})).has_value(); },
                        std::chrono::seconds(5))
            && !ended;
        if (ended) {
            // Without /dev/fuse, or where fusermount may not mount for this
            // user (a chroot, a container), bindfs says why and ends.
            const auto message = readTextFile(m_log / "bindfs.log");
            m_refusal = "bindfs could not mount: " + message.substr(0, message.find('\n'));
        }
    }
    ~BindfsMount()
    {
        if (!m_daemon)
            return;
        // A stopped daemon ends on SIGKILL too; the mount it leaves behind
        // answers nothing until it is taken away.
        m_daemon.reset();
        // Lazily, and whether or not the mount came about: one already gone
        // is what we want, so the outcome is not examined.
        [[maybe_unused]] const int unmounted
            = std::system(("fusermount3 -uz '" + m_mountPoint + "' 2>/dev/null").c_str());
    }
    BindfsMount(const BindfsMount&) = delete;
    BindfsMount& operator=(const BindfsMount&) = delete;

    // Why this machine does not let the test mount, for the test to skip.
    const std::optional<std::string>& refusal() const { return m_refusal; }
    bool mounted() const { return m_mounted; }
    // Stops the daemon, not ending it: the kernel keeps waiting for its
    // answers, as for a server that fell asleep. wake() lets it go on.
    // Returns once every thread of it has stopped: a thread that has yet to
    // would still answer a lookup made meanwhile.
    void silence() const
    {
        signalDaemon(SIGSTOP);
        if (m_mounted)
            eventually([&] { return everyThreadStopped(); }, std::chrono::seconds(5));
    }
    void wake() const { signalDaemon(SIGCONT); }
    // Ends the daemon as a crash would. The mount stays, and every request
    // on it fails: "Transport endpoint is not connected".
    void endDaemon()
    {
        if (!m_mounted)
            return;
        kill(m_daemon->pid(), SIGKILL);
        m_daemon->reapWithin(std::chrono::seconds(5));
        m_mounted = false; // nothing left to stop or wake
    }
    pid_t daemonPid() const { return m_daemon ? m_daemon->pid() : -1; }
    std::string daemonLog() const { return readTextFile(m_log / "bindfs.log"); }

private:
    bool everyThreadStopped() const
    {
        const auto tasks = std::filesystem::path("/proc") / std::to_string(m_daemon->pid()) / "task";
        std::error_code error;
        for (auto const& task : std::filesystem::directory_iterator(tasks, error)) {
            // The state follows the command name, which is in parentheses.
            const auto stat = readTextFile(task.path() / "stat");
            const auto nameEnd = stat.rfind(')');
            if (nameEnd == std::string::npos || stat.compare(nameEnd, 3, ") T") != 0)
                return false;
        }
        return !error;
    }

    void signalDaemon(int signal) const
    {
        if (m_mounted)
            kill(m_daemon->pid(), signal);
    }

    std::string m_mountPoint;
    TemporaryDirectory m_log { "ferrowind-bindfs" };
    std::optional<ChildProcess> m_daemon;
    std::optional<std::string> m_refusal;
    bool m_mounted { false };
};

} // namespace testing_support
