#include "platform/bundle.h"
#include "platform/linux/processes/proc_entries.h"
#include "platform/linux/processes/process_exit_wait.h"
#include "platform/linux_platform.h"

#include <glib.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

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
    SpawnSettings()
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
        posix_spawn_file_actions_addclosefrom_np(&m_fileActions, STDERR_FILENO + 1);
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

bool spawnDetached(const std::string& program, const std::vector<std::string>& arguments, char* const* environment)
{
    std::vector<std::string> argumentStrings { program };
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    const auto argv = nullTerminated(argumentStrings);
    const SpawnSettings settings;
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), settings.fileActions(), settings.attributes(), argv.data(), environment) != 0)
        return false;
    reapWhenExited(child);
    return true;
}

// Our environment plus one variable, built as a copy: setenv in a process
// with threads races every getenv.
std::vector<std::string> environmentWith(std::string_view name, std::string_view value)
{
    const std::string prefix = std::string(name) + "=";
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        if (!std::string_view(*entry).starts_with(prefix))
            entries.emplace_back(*entry);
    }
    entries.push_back(prefix + std::string(value));
    return entries;
}

class SpawningProcessLauncher final : public ProcessLauncher {
public:
    bool launchDetached(const std::string& program, const std::vector<std::string>& arguments) override
    {
        return spawnDetached(program, arguments, environ);
    }

    bool openBundle(const std::string& bundlePath) override
    {
        return launchDetached(bundleExecutablePath(bundlePath), {});
    }

    bool openBundleAfterExit(const std::string& bundlePath) override
    {
        const auto environment = environmentWith(kOpenAfterPIDVariable, std::to_string(getpid()));
        const auto envp = nullTerminated(environment);
        return spawnDetached(bundleExecutablePath(bundlePath), {}, envp.data());
    }
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
