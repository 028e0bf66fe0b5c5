#include "support/systemd_container.h"

#include "support/eventually.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

extern char** environ;

namespace testing_support {

namespace {

using namespace std::chrono_literals;

std::string processName(pid_t pid)
{
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

pid_t parentOf(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The name, in parentheses, may hold blanks and parentheses itself.
    std::istringstream fields(text.substr(text.rfind(')') + 1));
    char state = 0;
    pid_t parent = -1;
    fields >> state >> parent;
    return parent;
}

std::optional<pid_t> childNamed(pid_t parent, const std::string& name)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string file = entry.path().filename();
        if (file.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = std::stoi(file);
        if (parentOf(pid) == parent && processName(pid) == name)
            return pid;
    }
    return std::nullopt;
}

std::string seconds(std::chrono::steady_clock::duration limit)
{
    return std::to_string(std::chrono::ceil<std::chrono::seconds>(limit).count());
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> result;
    for (auto& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

// Runs `command` here, with its output gathered, for no longer than
// `limit`.
SystemdContainer::Outcome runCapturingOutput(std::vector<std::string> command, std::chrono::steady_clock::duration limit)
{
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, command.front().c_str(), &actions, nullptr, pointers(command).data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    SystemdContainer::Outcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[4096];
    while (!failed) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd entry { output[0], POLLIN, 0 };
        if (left <= 0 || poll(&entry, 1, static_cast<int>(left)) <= 0)
            break;
        const auto length = read(output[0], buffer, sizeof buffer);
        if (length <= 0)
            break;
        outcome.output.append(buffer, static_cast<std::size_t>(length));
    }
    close(output[0]);
    if (failed)
        return outcome;
    ChildProcess child(pid);
    if (auto status = child.reapWithin(std::max(deadline - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration(100ms))))
        outcome.status = WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
    return outcome;
}

bool startsWithAny(const std::string& text, std::initializer_list<const char*> starts)
{
    for (const char* start : starts) {
        if (text.rfind(start, 0) == 0)
            return true;
    }
    return false;
}

} // namespace

std::unique_ptr<SystemdContainer> SystemdContainer::boot(std::string& whyNot)
{
    if (geteuid() != 0) {
        whyNot = "booting systemd in a container takes root";
        return nullptr;
    }
    for (const char* program : { "/usr/bin/systemd-nspawn", "/lib/systemd/systemd", "/usr/bin/dbus-daemon", "/usr/sbin/useradd" }) {
        if (access(program, X_OK) != 0) {
            whyNot = std::string(program) + " is not installed";
            return nullptr;
        }
    }
    std::unique_ptr<SystemdContainer> container(new SystemdContainer);
    if (!container->bootAndLogIn(whyNot))
        return nullptr;
    return container;
}

SystemdContainer::~SystemdContainer() = default;

bool SystemdContainer::bootAndLogIn(std::string& whyNot)
{
    const auto started = Clock::now();
    const std::string bootLog = m_scratch / "boot.log";
    // Named after the scratch folder, unique here where process IDs may not
    // be; nspawn keeps a lock by that name.
    m_container.emplace(SYSTEMD_CONTAINER_SCRIPT, std::vector<std::string> { m_scratch.path().filename().string() },
        ChildOptions { {}, { { STDOUT_FILENO, bootLog }, { STDERR_FILENO, bootLog } }, SIGTERM });
    bool ended = false;
    eventually(
        [&] {
            auto nspawn = childNamed(m_container->pid(), "systemd-nspawn");
            auto init = nspawn ? childNamed(*nspawn, "systemd") : std::nullopt;
            m_init = init.value_or(-1);
            ended = !init && m_container->reapWithin(0s);
            return init || ended;
        },
        20s, 20ms);
    if (m_init < 0) {
        whyNot = "systemd did not start in a container: " + bootLogTail();
        return false;
    }
    // Asked again while systemd is yet to listen for systemctl.
    Outcome running;
    const bool booted = eventually(
        [&] {
            running = runAsRoot("systemctl is-system-running --wait", 90s);
            return startsWithAny(running.output, { "running", "degraded" });
        },
        90s, 100ms);
    if (!booted) {
        whyNot = "systemd did not finish booting in a container (" + running.output + "): " + bootLogTail();
        return false;
    }
    const auto added = runAsRoot("useradd --create-home --shell /bin/bash " + m_userName + " && id -u " + m_userName + " && id -g " + m_userName);
    std::istringstream ids(added.output);
    if (added.status != 0 || !(ids >> m_uid >> m_gid)) {
        whyNot = "no user could be added in the container: " + added.output;
        return false;
    }
    // A session that stays open for the container's life keeps the user's
    // manager running between commands.
    const auto managerRunning = startAsUser("ferrowind-test-login", "sleep infinity")
        ? runAsUser("systemctl --user is-system-running --wait", 60s)
        : Outcome {};
    if (!startsWithAny(managerRunning.output, { "running", "degraded" })) {
        whyNot = "the user's manager did not start in the container: " + managerRunning.output;
        return false;
    }
    m_bootTime = Clock::now() - started;
    return true;
}

SystemdContainer::Outcome SystemdContainer::runInside(std::vector<std::string> command, Clock::duration limit) const
{
    // Ended inside, where the time runs out, so that no process of it is
    // left behind in the container; the margin covers getting in.
    std::vector<std::string> entered { "nsenter", "--target", std::to_string(m_init), "--all", "timeout", "--signal=KILL", seconds(limit) };
    entered.insert(entered.end(), command.begin(), command.end());
    return runCapturingOutput(std::move(entered), limit + 5s);
}

SystemdContainer::Outcome SystemdContainer::runAsRoot(const std::string& command, Clock::duration limit) const
{
    return runInside({ "sh", "-c", command }, limit);
}

SystemdContainer::Outcome SystemdContainer::runAsUser(const std::string& command, Clock::duration limit) const
{
    return runInside({ "systemd-run", "--quiet", "--wait", "--pipe", "--collect", "--uid=" + m_userName, "--property=PAMName=login",
                         "--property=RuntimeMaxSec=" + seconds(limit), "sh", "-c", command },
        limit);
}

bool SystemdContainer::startAsUser(const std::string& unit, const std::string& command) const
{
    return runInside({ "systemd-run", "--quiet", "--collect", "--unit=" + unit, "--uid=" + m_userName, "--property=PAMName=login", "sh",
                         "-c", "exec " + command },
               30s)
               .status
        == 0;
}

std::optional<pid_t> SystemdContainer::mainPidOf(const std::string& unit) const
{
    const auto shown = runAsRoot("systemctl show --property=MainPID --value " + unit);
    const pid_t pid = shown.status == 0 ? std::atoi(shown.output.c_str()) : 0;
    return pid > 0 ? std::optional(pid) : std::nullopt;
}

std::filesystem::path SystemdContainer::fromOutside(const std::filesystem::path& inside) const
{
    return std::filesystem::path("/proc") / std::to_string(m_init) / "root" / inside.relative_path();
}

void SystemdContainer::putFile(const std::filesystem::path& inside, const std::string& content, Owner owner, std::filesystem::perms mode) const
{
    const uid_t uid = owner == Owner::user ? m_uid : 0;
    const gid_t gid = owner == Owner::user ? m_gid : 0;
    // The folders it makes belong to the owner too, from the first missing.
    std::filesystem::path made = fromOutside("/");
    for (const auto& part : inside.parent_path().relative_path()) {
        made /= part;
        if (std::filesystem::create_directory(made) && chown(made.c_str(), uid, gid) != 0)
            throw std::runtime_error("cannot hand " + made.string() + " over");
    }
    const auto file = fromOutside(inside);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
    std::filesystem::permissions(file, mode);
    if (chown(file.c_str(), uid, gid) != 0)
        throw std::runtime_error("cannot hand " + file.string() + " over");
}

std::string SystemdContainer::bootLogTail() const
{
    std::ifstream log(m_scratch / "boot.log");
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

} // namespace testing_support
