#include "platform/bundle.h"
#include "platform/linux/kernel_tables/proc_entries.h"
#include "platform/linux/processes/process_exit_wait.h"
#include "platform/linux_platform.h"

#include "platform/linux/common/owned_descriptor.h"

#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <utility>

extern char** environ;

namespace platform {

namespace {

constexpr const char* kOpenAfterPIDVariable = "FERROWIND_OPEN_AFTER_PID";

// Long enough for an orderly exit that saves its state; short enough that a
// stuck predecessor cannot keep its replacement from ever starting.
constexpr auto kOpenerExitBound = std::chrono::seconds(30);

// The argv/envp form posix_spawn wants, pointing into `strings`, which must
// outlive it.
std::vector<char*> nullTerminated(const std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (const auto& text : strings)
        pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

class SpawnSettings {
public:
    // `handedOver`: a descriptor the child gets as its descriptor 3, or -1.
    explicit SpawnSettings(int handedOver = -1)
    {
        posix_spawnattr_init(&m_attributes);
        posix_spawn_file_actions_init(&m_fileActions);
        // Threads of ours may block signals, and ignored signals (SIGPIPE
        // for a server) stay ignored across exec: the child starts with
        // neither.
        sigset_t signals;
        sigemptyset(&signals);
        posix_spawnattr_setsigmask(&m_attributes, &signals);
        sigfillset(&signals);
        posix_spawnattr_setsigdefault(&m_attributes, &signals);
        posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        // A descriptor we forgot to mark close-on-exec must not live on in
        // the child: an inherited listening socket would keep our port
        // taken from a relaunched copy of ourselves.
        // The one descriptor handed over on purpose is the exception; dup2
        // leaves the copy without close-on-exec in the child alone.
        int firstClosed = STDERR_FILENO + 1;
        if (handedOver >= 0)
            posix_spawn_file_actions_adddup2(&m_fileActions, handedOver, firstClosed++);
        posix_spawn_file_actions_addclosefrom_np(&m_fileActions, firstClosed);
    }

    ~SpawnSettings()
    {
        posix_spawn_file_actions_destroy(&m_fileActions);
        posix_spawnattr_destroy(&m_attributes);
    }

    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    const posix_spawnattr_t* attributes() const { return &m_attributes; }
    const posix_spawn_file_actions_t* fileActions() const { return &m_fileActions; }

private:
    posix_spawnattr_t m_attributes;
    posix_spawn_file_actions_t m_fileActions;
};

// Nobody waits for a detached child, yet it must not stay a zombie. GLib
// reaps it when the default main context runs, which the main thread does.
void reapWhenExited(pid_t child)
{
    g_child_watch_add_full(
        G_PRIORITY_DEFAULT, child, [](GPid pid, gint, gpointer) { g_spawn_close_pid(pid); }, nullptr, nullptr);
}

bool spawnDetached(const std::string& program, const std::vector<std::string>& arguments, char* const* environment,
    int handedOver = -1)
{
    std::vector<std::string> argumentStrings { program };
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    const auto argv = nullTerminated(argumentStrings);
    const SpawnSettings settings(handedOver);
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), settings.fileActions(), settings.attributes(), argv.data(), environment) != 0)
        return false;
    reapWhenExited(child);
    return true;
}

using Variables = std::vector<std::pair<std::string_view, std::string>>;

// Our environment with `variables` set and the socket-activation ones left
// out (those a supervisor may have given us), built as a copy: setenv in a
// process with threads races every getenv.
std::vector<std::string> environmentWith(const Variables& variables)
{
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        std::string_view text(*entry);
        auto name = text.substr(0, text.find('='));
        bool replaced = std::ranges::any_of(variables, [&](const auto& variable) { return variable.first == name; });
        if (!replaced && !name.starts_with("LISTEN_"))
            entries.emplace_back(text);
    }
    for (const auto& [name, value] : variables)
        entries.push_back(std::string(name) + "=" + value);
    return entries;
}

// LISTEN_PID must name the new process, whose id posix_spawn tells only
// once it runs: a shell sets it to its own id and replaces itself with the
// program, which keeps that id.
constexpr const char* kSetListenPIDAndRun = "LISTEN_PID=$$ exec \"$0\"";

class SpawningProcessLauncher final : public ProcessLauncher {
public:
    bool launchDetached(const std::string& program, const std::vector<std::string>& arguments, int passedFile) override
    {
        return spawnDetached(program, arguments, environ, passedFile);
    }

    bool openBundle(const std::string& bundlePath) override
    {
        return spawnDetached(bundleExecutablePath(bundlePath), {}, environ);
    }

    bool openBundleAfterExit(const std::string& bundlePath) override
    {
        Variables variables { { kOpenAfterPIDVariable, std::to_string(getpid()) } };
        const std::lock_guard lock(m_handOverLock);
        if (m_handedOver.isValid())
            variables.emplace_back("LISTEN_FDS", "1");
        const auto environment = environmentWith(variables);
        const auto envp = nullTerminated(environment);
        if (!m_handedOver.isValid())
            return spawnDetached(bundleExecutablePath(bundlePath), {}, envp.data());
        return spawnDetached("/bin/sh", { "-c", kSetListenPIDAndRun, bundleExecutablePath(bundlePath) }, envp.data(),
            m_handedOver.get());
    }

    void handOverOnRelaunch(int listeningSocket) override
    {
        // A copy of our own, above the descriptors a child gets, so that the
        // listener may close its socket whenever it likes and the copy still
        // holds the port until we end.
        const std::lock_guard lock(m_handOverLock);
        m_handedOver = linux_files::OwnedDescriptor(fcntl(listeningSocket, F_DUPFD_CLOEXEC, STDERR_FILENO + 2));
    }

private:
    // The listener thread sets it, the updater relaunches from the main
    // thread.
    std::mutex m_handOverLock;
    linux_files::OwnedDescriptor m_handedOver;
};

} // namespace

std::unique_ptr<ProcessLauncher> makeProcessLauncher()
{
    return std::make_unique<SpawningProcessLauncher>();
}

void waitUntilOpenerHasExited()
{
    const char* value = std::getenv(kOpenAfterPIDVariable);
    if (!value)
        return;
    const auto opener = procfs::processIDFromText(value);
    // Programs we start later would inherit it and wait for a process that
    // has nothing to do with them.
    unsetenv(kOpenAfterPIDVariable);
    if (opener && *opener != getpid())
        waitForProcessExit(*opener, kOpenerExitBound);
}

} // namespace platform
