#include "platform/linux/log/system_log_linux.h"
#include "support/temporary_directory.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {
namespace {

using namespace std::chrono_literals;

// Stands in for the log daemon: a datagram socket of the test's own, read
// by the test while a child process writes.
class LogDaemonStandIn {
public:
    LogDaemonStandIn()
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path().c_str(), sizeof address.sun_path - 1);
        if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot bind " + path());
    }
    ~LogDaemonStandIn() { close(m_socket); }

    std::string path() const { return m_folder / "log"; }

    // What follows "ident[pid]: " in each line that came until `child` ended
    // and nothing more came; `status` tells how it ended. Read as the lines
    // come, since the socket holds only a few unread. With `reading` false,
    // nothing is read, as of a daemon that is stuck.
    std::vector<std::string> linesUntilEnd(pid_t child, int& status, bool reading = true)
    {
        std::vector<std::string> lines;
        std::vector<char> buffer(256 * 1024);
        bool ended = false;
        for (auto limit = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < limit;) {
            pollfd entry { m_socket, static_cast<short>(reading ? POLLIN : 0), 0 };
            if (poll(&entry, 1, ended ? 200 : 20) <= 0) {
                if (ended)
                    return lines;
                ended = waitpid(child, &status, WNOHANG) == child;
                continue;
            }
            const auto length = recv(m_socket, buffer.data(), buffer.size(), 0);
            const std::string datagram(buffer.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
            const auto text = datagram.find("]: ");
            lines.push_back(text == std::string::npos ? datagram : datagram.substr(text + 3));
        }
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return lines;
    }

private:
    testing_support::TemporaryDirectory m_folder { "ferrowind-log" };
    int m_socket { socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0) };
};

// Writes `lines` in a child process, every third at once and the others
// kept, then ends it with `end`.
pid_t writeInChild(const std::string& daemonSocket, const std::vector<std::string>& lines, const std::function<void(std::unique_ptr<SystemLog>&)>& end)
{
    const pid_t child = fork();
    if (child == 0) {
        auto log = makeSystemLogSendingTo("test", daemonSocket, false);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (i % 3 == 2)
                log->write(lines[i]);
            else
                log->writeLater(lines[i]);
        }
        end(log);
        _exit(99);
    }
    return child;
}

std::vector<std::string> numberedLines(int count)
{
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i)
        lines.push_back("line " + std::to_string(i));
    return lines;
}

TEST(SystemLog, EveryLineArrivesOnceInOrderHoweverTheProcessEnds)
{
    struct Ending {
        const char* how;
        std::vector<std::string> lines;
        std::function<void(std::unique_ptr<SystemLog>&)> end;
        // The signal that ends the process; 0 for an exit with status 0.
        int signal;
    };
    auto longLine = std::string(70'000, 'x');
    const Ending endings[] = {
        { "more lines than wait at once, then the log destroyed", numberedLines(200), [](auto& log) { log.reset(); _exit(0); }, 0 },
        { "a line longer than all the room", { "before", longLine, "after" }, [](auto& log) { log.reset(); _exit(0); }, 0 },
        { "exit() with lines waiting", numberedLines(4), [](auto&) { std::exit(0); }, 0 },
        { "abort()", numberedLines(4), [](auto&) { std::abort(); }, SIGABRT },
        // A crash that sanitizers leave to the program's own handlers.
        { "an illegal instruction", numberedLines(4), [](auto&) { raise(SIGILL); }, SIGILL },
        { "SIGTERM", numberedLines(4), [](auto&) { raise(SIGTERM); }, SIGTERM },
    };
    for (const auto& ending : endings) {
        LogDaemonStandIn daemon;
        const pid_t child = writeInChild(daemon.path(), ending.lines, ending.end);
        int status = -1;
        EXPECT_EQ(daemon.linesUntilEnd(child, status), ending.lines) << ending.how;
        if (ending.signal)
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == ending.signal) << ending.how << ": status " << status;
        else
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ending.how << ": status " << status;
    }
}

TEST(SystemLog, AStuckDaemonHoldsNoWriterUp)
{
    LogDaemonStandIn daemon;
    const pid_t child = writeInChild(daemon.path(), numberedLines(3000), [](auto& log) { log.reset(); _exit(0); });
    int status = -1;
    daemon.linesUntilEnd(child, status, false);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

} // namespace
} // namespace platform
