#include "integration/helper_harness.h"

#include "platform/bundle.h"
#include "support/loopback.h"
#include "support/text_files.h"
#include "unit/platform/platform_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace harness {

namespace {

int millisecondsLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Relaunched helpers are orphaned by the helper that started them; make them
// our children so tests can find, wait for and reap them.
[[maybe_unused]] const bool becameSubreaper = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;

} // namespace

HelperBundleCopy::HelperBundleCopy()
{
    fs::copy(HELPER_BUNDLE_DIR, bundlePath(), fs::copy_options::recursive);
    fs::create_directories(home());
}

HelperBundleCopy::~HelperBundleCopy() { killRunningHelpers(); }

std::string HelperBundleCopy::shortVersion() const
{
    auto info = platform::readInfoDictionary(infoPlistPath());
    return info ? info->string("CFBundleShortVersionString").value_or("") : "";
}

void HelperBundleCopy::setShortVersion(const std::string& version)
{
    auto text = testing_support::readTextFile(infoPlistPath());
    auto key = text.find("<key>CFBundleShortVersionString</key>");
    auto valueStart = text.find("<string>", key) + std::strlen("<string>");
    auto valueEnd = text.find("</string>", valueStart);
    if (key == std::string::npos || valueEnd == std::string::npos)
        throw std::runtime_error("no short version in the bundle's Info.plist");
    text.replace(valueStart, valueEnd - valueStart, version);
    std::ofstream(infoPlistPath(), std::ios::trunc) << text;
}

std::vector<pid_t> HelperBundleCopy::runningHelpers() const
{
    std::vector<pid_t> found;
    for (auto const& entry : fs::directory_iterator("/proc")) {
        auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code error;
        auto executable = fs::read_symlink(entry.path() / "exe", error);
        if (!error && executable == executablePath())
            found.push_back(std::stoi(name));
    }
    return found;
}

void HelperBundleCopy::killRunningHelpers() const
{
    for (pid_t pid : runningHelpers())
        kill(pid, SIGKILL);
    testing_support::eventually([&] {
        reapExitedChildren();
        return runningHelpers().empty();
    },
        5s, 10ms);
    reapExitedChildren();
}

namespace {

// Forked rather than spawned: the descriptor limit must hold from the
// helper's first instruction.
pid_t forkHelper(const HelperBundleCopy& bundle, std::optional<unsigned> descriptorLimit, const Environment& environment,
    const std::string& standardError)
{
    auto executable = bundle.executablePath().string();
    auto home = bundle.home().string();
    pid_t pid = fork();
    if (pid == 0) {
        if (descriptorLimit) {
            rlimit limit { *descriptorLimit, *descriptorLimit };
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        if (!standardError.empty()) {
            int error = open(standardError.c_str(), O_WRONLY | O_NOCTTY | O_APPEND);
            if (error < 0 || dup2(error, STDERR_FILENO) < 0)
                _exit(126);
        }
        setenv("HOME", home.c_str(), 1);
        for (auto const& [name, value] : environment)
            setenv(name.c_str(), value.c_str(), 1);
        execl(executable.c_str(), executable.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0)
        throw std::runtime_error("fork failed");
    return pid;
}

} // namespace

HelperProcess::HelperProcess(const HelperBundleCopy& bundle, std::optional<unsigned> descriptorLimit,
    const Environment& environment, const std::string& standardError)
    : m_process(forkHelper(bundle, descriptorLimit, environment, standardError))
{
}

std::optional<int> HelperProcess::waitForExit(Clock::duration limit)
{
    auto status = m_process.reapWithin(limit);
    if (!status)
        return std::nullopt;
    return WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
}

Client::~Client()
{
    if (m_descriptor >= 0)
        close(m_descriptor);
}

Client::Client(Client&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1))
    , m_pending(std::move(other.m_pending))
{
}

Client& Client::operator=(Client&& other) noexcept
{
    if (this != &other) {
        if (m_descriptor >= 0)
            close(m_descriptor);
        m_descriptor = std::exchange(other.m_descriptor, -1);
        m_pending = std::move(other.m_pending);
    }
    return *this;
}

std::optional<Client> Client::connectTo(int port, Clock::duration limit)
{
    auto deadline = Clock::now() + limit;
    for (;;) {
        if (int descriptor = testing_support::connectToLoopback(static_cast<std::uint16_t>(port)); descriptor >= 0)
            return Client(descriptor);
        if (Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(10ms);
    }
}

void Client::send(const std::string& bytes) const
{
    if (::send(m_descriptor, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("send failed");
}

std::optional<std::string> Client::ask(const std::string& line, Clock::duration limit)
{
    send(line);
    return readLine(limit);
}

std::optional<std::string> Client::readLine(Clock::duration limit)
{
    auto deadline = Clock::now() + limit;
    for (;;) {
        if (auto end = m_pending.find('\n'); end != std::string::npos) {
            auto line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return line;
        }
        pollfd entry { m_descriptor, POLLIN, 0 };
        if (poll(&entry, 1, millisecondsLeft(deadline)) <= 0)
            return std::nullopt;
        char buffer[4096];
        auto count = recv(m_descriptor, buffer, sizeof buffer, 0);
        if (count <= 0)
            return std::nullopt;
        m_pending.append(buffer, static_cast<std::size_t>(count));
    }
}

bool Client::closedWithoutData(Clock::duration limit)
{
    if (!m_pending.empty())
        return false;
    pollfd entry { m_descriptor, POLLIN, 0 };
    if (poll(&entry, 1, millisecondsLeft(Clock::now() + limit)) <= 0)
        return false;
    char byte;
    return recv(m_descriptor, &byte, 1, 0) <= 0;
}

void Client::reset()
{
    testing_support::closeWithReset(std::exchange(m_descriptor, -1));
}

PortBlocker::PortBlocker(int port)
{
    m_descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Earlier cases in the same network namespace leave connections on the
    // port in TIME-WAIT; the helper binds through them, and so must we.
    int reuse = 1;
    setsockopt(m_descriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    auto address = testing_support::loopbackAddress(static_cast<std::uint16_t>(port));
    if (bind(m_descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(m_descriptor, 5) != 0)
        throw std::runtime_error("cannot hold port " + std::to_string(port) + ": " + std::strerror(errno));
}

PortBlocker::~PortBlocker() { close(m_descriptor); }

HelperLogTerminal::HelperLogTerminal()
    : m_master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))
{
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::runtime_error(std::string("no pseudo-terminal: ") + std::strerror(errno));
    m_path = ptsname(m_master);
}

HelperLogTerminal::~HelperLogTerminal() { close(m_master); }

bool HelperLogTerminal::waitForLine(const std::string& text, Clock::duration limit)
{
    const auto deadline = Clock::now() + limit;
    while (m_seen.find(text) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry { m_master, POLLIN, 0 };
        if (left <= 0 || poll(&entry, 1, static_cast<int>(left)) <= 0)
            return false;
        char buffer[1024];
        auto count = read(m_master, buffer, sizeof buffer);
        if (count <= 0)
            return false; // every writer has gone
        m_seen.append(buffer, static_cast<std::size_t>(count));
    }
    return true;
}

namespace {

void becomeAnotherUserIfAllowed()
{
    if (!mayActAsAnotherUser())
        return;
    if (setgroups(0, nullptr) != 0 || setgid(OtherUserProcess::kUser) != 0 || setuid(OtherUserProcess::kUser) != 0)
        _exit(125);
}

} // namespace

OtherUserProcess::OtherUserProcess(void (*work)(int report))
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error("no pipe");
    pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        becomeAnotherUserIfAllowed();
        work(ends[1]);
        _exit(0);
    }
    close(ends[1]);
    m_report = ends[0];
    if (pid < 0)
        throw std::runtime_error("fork failed");
    m_process.emplace(pid);
}

OtherUserProcess::~OtherUserProcess()
{
    m_process.reset();
    close(m_report);
}

std::optional<char> OtherUserProcess::report(Clock::duration limit)
{
    pollfd entry { m_report, POLLIN, 0 };
    char byte = 0;
    auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(limit).count();
    if (poll(&entry, 1, static_cast<int>(milliseconds)) <= 0 || read(m_report, &byte, 1) != 1)
        return std::nullopt;
    return byte;
}

bool mayActAsAnotherUser() { return platform::testing::mayBecomeUser(OtherUserProcess::kUser); }

std::optional<Client> greetedClient(int port, Clock::duration connectLimit, Clock::duration welcomeLimit)
{
    auto client = Client::connectTo(port, connectLimit);
    if (!client || !client->readLine(welcomeLimit))
        return std::nullopt;
    return client;
}

void HelperSession::start(std::optional<unsigned> descriptorLimit, const Environment& environment)
{
    m_helper.emplace(m_bundle, descriptorLimit, environment);
    m_client = greeted();
}

Client HelperSession::greeted() const
{
    auto client = greetedClient();
    if (!client)
        throw std::runtime_error("the helper did not start listening or greet");
    return std::move(*client);
}

void HelperSession::expectStillServing()
{
    auto client = greetedClient(kPort, 10s, 10s);
    ASSERT_TRUE(client) << "no welcome line";
    client->send("version\n");
    EXPECT_EQ(client->readLine(), version());
    EXPECT_FALSE(m_helper->waitForExit(0s)) << "the helper ended";
}

void reapExitedChildren()
{
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

void raiseDescriptorLimit(unsigned count)
{
    rlimit limit {};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur >= count)
        return;
    limit.rlim_cur = count;
    if (limit.rlim_max < count)
        limit.rlim_max = count;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
        throw std::runtime_error("cannot raise the descriptor limit");
}

} // namespace harness
