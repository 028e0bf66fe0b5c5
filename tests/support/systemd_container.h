#pragma once

// A real systemd machine for tests: systemd booted as PID 1 of a container
// whose root is this machine's own (its programs and the build tree are
// there; whatever the container writes stays in memory), with journald,
// logind, the system bus, and a user logged in through pam_systemd, whose
// user manager and session bus run. Tests speak to it from outside.

#include "support/child_process.h"
#include "support/temporary_directory.h"

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace testing_support {

class SystemdContainer {
public:
    using Clock = std::chrono::steady_clock;

    struct Outcome {
        // As a shell gives it: the exit status, or 128 + the signal; 124
        // or 137 when the time ran out, -1 when it could not be run.
        int status { -1 };
        // Standard output and standard error, interleaved.
        std::string output;
    };

    // Boots one and logs the user in. Nothing where that cannot be done
    // here, and `whyNot` tells why: for a test to skip with.
    static std::unique_ptr<SystemdContainer> boot(std::string& whyNot);
    // Powers it off.
    ~SystemdContainer();
    SystemdContainer(const SystemdContainer&) = delete;
    SystemdContainer& operator=(const SystemdContainer&) = delete;

    // From the start of the container to the user's manager running.
    Clock::duration bootTime() const { return m_bootTime; }
    const std::string& userName() const { return m_userName; }
    uid_t uid() const { return m_uid; }

    // `command` run by sh as the user, in a login session of theirs
    // (XDG_RUNTIME_DIR and DBUS_SESSION_BUS_ADDRESS set, their user manager
    // there), waited for.
    Outcome runAsUser(const std::string& command, Clock::duration limit = std::chrono::seconds(30)) const;
    // `command` run by sh as root, in no session.
    Outcome runAsRoot(const std::string& command, Clock::duration limit = std::chrono::seconds(30)) const;

    // Starts `command` as the user, in a login session of theirs, as the
    // system service `unit`, and leaves it running; stopped with
    // runAsRoot("systemctl stop " + unit), or at power-off.
    bool startAsUser(const std::string& unit, const std::string& command) const;
    // The main process of a unit started so, as the container numbers
    // processes; nothing once it has ended.
    std::optional<pid_t> mainPidOf(const std::string& unit) const;

    // Writes a file in the container, making the folders it needs, owned
    // by the user or by root.
    enum class Owner { user,
        root };
    void putFile(const std::filesystem::path& inside, const std::string& content, Owner owner = Owner::user,
        std::filesystem::perms mode = std::filesystem::perms(0644)) const;
    // Where this process finds a path of the container.
    std::filesystem::path fromOutside(const std::filesystem::path& inside) const;

private:
    SystemdContainer() = default;
    bool bootAndLogIn(std::string& whyNot);
    Outcome runInside(std::vector<std::string> command, Clock::duration limit) const;
    std::string bootLogTail() const;

    TemporaryDirectory m_scratch { "ferrowind-systemd-container" };
    std::optional<ChildProcess> m_container;
    pid_t m_init { -1 };
    Clock::duration m_bootTime {};
    std::string m_userName { "ferrowind-tester" };
    uid_t m_uid { 0 };
    gid_t m_gid { 0 };
};

} // namespace testing_support
