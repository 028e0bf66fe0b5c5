#include "platform/linux/log/log_line_framing.h"
#include "platform/linux/log/system_log_linux.h"
#include "platform/linux/log/waiting_log_lines.h"
#include "platform/signal_stack.h"
#include "support/temporary_directory.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <endian.h>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

using namespace std::chrono_literals;

constexpr const char* kIdent = "a test";

// The fields of a journald datagram: NAME=value lines, or NAME, a line
// break, the value's length (64 bits, little-endian), the value and a line
// break. Empty where it is none.
std::map<std::string, std::string> journalFields(std::string_view datagram)
{
    std::map<std::string, std::string> fields;
    while (!datagram.empty()) {
        const auto lineEnd = datagram.find('\n');
        const auto equals = datagram.find('=');
        if (lineEnd == std::string_view::npos)
            return {};
        if (equals < lineEnd) {
            fields[std::string(datagram.substr(0, equals))] = datagram.substr(equals + 1, lineEnd - equals - 1);
            datagram.remove_prefix(lineEnd + 1);
            continue;
        }
        std::uint64_t length = 0;
        if (datagram.size() < lineEnd + 1 + sizeof length)
            return {};
        std::memcpy(&length, datagram.data() + lineEnd + 1, sizeof length);
        length = le64toh(length);
        const auto value = lineEnd + 1 + sizeof length;
        if (datagram.size() < value + length + 1 || datagram[value + length] != '\n')
            return {};
        fields[std::string(datagram.substr(0, lineEnd))] = datagram.substr(value, length);
        datagram.remove_prefix(value + length + 1);
    }
    return fields;
}

// The text of a line as the daemon reads it, or what is wrong with it.
std::string textOfSyslogLine(const std::string& datagram, pid_t writer)
{
    const std::string header = "a-test[" + std::to_string(writer) + "]: ";
    const auto text = datagram.find(header);
    if (datagram.rfind("<13>", 0) != 0 || text == std::string::npos)
        return "not a syslog line of the writer: " + datagram.substr(0, 80);
    return datagram.substr(text + header.size());
}

std::string textOfJournalEntry(const std::string& datagram, pid_t writer)
{
    auto fields = journalFields(datagram);
    if (fields["SYSLOG_IDENTIFIER"] != kIdent || fields["PRIORITY"] != "5" || fields["SYSLOG_PID"] != std::to_string(writer)
        || !fields.contains("MESSAGE"))
        return "not a journal entry of the writer: " + datagram.substr(0, 80);
    return fields["MESSAGE"];
}

// Stands in for the log daemon: a datagram socket of the test's own, read
// by the test while a child process writes.
class LogDaemonStandIn {
public:
    explicit LogDaemonStandIn(LogDaemonProtocol protocol)
        : m_protocol(protocol)
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path().c_str(), sizeof address.sun_path - 1);
        if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot bind " + path());
    }
    ~LogDaemonStandIn() { close(m_socket); }

    std::string path() const { return m_folder / "log"; }
    LogDaemonProtocol protocol() const { return m_protocol; }

    // The text of each line that came until `child` ended and nothing more
    // came; `status` tells how it ended. Read as the lines come, since the
    // socket holds only a few unread. With `reading` false, nothing is
    // read, as of a daemon that is stuck.
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
            lines.push_back(m_protocol == LogDaemonProtocol::journal ? textOfJournalEntry(datagram, child) : textOfSyslogLine(datagram, child));
        }
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return lines;
    }

private:
    const LogDaemonProtocol m_protocol;
    testing_support::TemporaryDirectory m_folder { "ferrowind-log" };
    int m_socket { socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0) };
};

// Writes `lines` in a child process, every third at once and the others
// kept, then ends it with `end`.
pid_t writeInChild(const LogDaemonStandIn& daemon, const std::vector<std::string>& lines, const std::function<void(std::unique_ptr<SystemLog>&)>& end)
{
    const pid_t child = fork();
    if (child == 0) {
        auto log = makeSystemLogSendingTo(kIdent, daemon.path(), daemon.protocol(), false);
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

// The socket the log sends on: the child's one connected datagram socket.
int logSocket()
{
    for (int socket = 3; socket < 1024; ++socket) {
        int type = 0;
        socklen_t typeLength = sizeof type;
        sockaddr_un peer {};
        socklen_t peerLength = sizeof peer;
        if (getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &typeLength) == 0 && type == SOCK_DGRAM
            && getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0)
            return socket;
    }
    return -1;
}

int g_logSocket = -1;
ino_t g_logSocketInode = 0;

// Breaks the log's socket, as a daemon's restart does, then runs the SIGTERM
// handler. The signal it raises at its end comes to a handler of ours, which
// tells whether the log's handler left that socket alone (status 0).
void runTheHandlerWithTheLogSocketBroken()
{
    g_logSocket = logSocket();
    struct stat before = {};
    fstat(g_logSocket, &before);
    g_logSocketInode = before.st_ino;
    shutdown(g_logSocket, SHUT_WR);
    struct sigaction handler = {};
    sigaction(SIGTERM, nullptr, &handler);
    signal(SIGTERM, [](int) {
        struct stat after = {};
        _exit(fstat(g_logSocket, &after) == 0 && after.st_ino == g_logSocketInode ? 0 : 3);
    });
    handler.sa_handler(SIGTERM);
    _exit(4);
}

volatile bool g_deeper = true;

// The frame it fills keeps the compiler from making a loop of it.
int exhaustTheStack(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    return g_deeper ? exhaustTheStack(depth + 1) + frame[0] : 0;
}

TEST(SystemLog, EveryLineArrivesOnceInOrderHoweverTheProcessEnds)
{
    struct Ending {
        const char* how;
        std::vector<std::string> lines;
        std::function<void(std::unique_ptr<SystemLog>&)> end;
        // The signal that ends the process; 0 for an exit with status 0.
        int signal;
        // What the daemon reads, where it is not `lines`.
        std::vector<std::string> read {};
    };
    auto longLine = std::string(70'000, 'x');
    // Past what the kernel takes in one datagram; cut short of it.
    auto tooLongLine = std::string(300'000, 'x');
    auto tooLongLineCut = std::string(128 * 1024 - 3, 'x') + "…";
    const Ending endings[] = {
        { "more lines than wait at once, then the log destroyed", numberedLines(200), [](auto& log) { log.reset(); _exit(0); }, 0 },
        { "a line longer than all the room", { "before", longLine, "after" }, [](auto& log) { log.reset(); _exit(0); }, 0 },
        { "exit() with lines waiting", numberedLines(4), [](auto&) { std::exit(0); }, 0 },
        { "abort()", numberedLines(4), [](auto&) { std::abort(); }, SIGABRT },
        // A crash that sanitizers leave to the program's own handlers.
        { "an illegal instruction", numberedLines(4), [](auto&) { raise(SIGILL); }, SIGILL },
        { "SIGTERM", numberedLines(4), [](auto&) { raise(SIGTERM); }, SIGTERM },
        { "a fatal signal when the log's socket fails", numberedLines(4), [](auto&) { runTheHandlerWithTheLogSocketBroken(); }, 0 },
        { "a stack overflow on a thread of ours", numberedLines(4),
            [](auto&) { std::thread([] { giveThreadASignalStack(), exhaustTheStack(0); }).join(); }, SIGSEGV },
        { "a line longer than a datagram can be", { "before", tooLongLine, "after" }, [](auto& log) { log.reset(); _exit(0); }, 0,
            { "before", tooLongLineCut, "after" } },
    };
    for (auto protocol : { LogDaemonProtocol::syslog, LogDaemonProtocol::journal }) {
        const char* protocolName = protocol == LogDaemonProtocol::journal ? "journal: " : "syslog: ";
        for (const auto& ending : endings) {
            struct sigaction segv = {};
            sigaction(SIGSEGV, nullptr, &segv);
            if (ending.signal == SIGSEGV && segv.sa_handler != SIG_DFL) {
                std::cout << "skipped " << ending.how << ": SIGSEGV's action is a sanitizer's, not the log's" << std::endl;
                continue;
            }
            LogDaemonStandIn daemon(protocol);
            const pid_t child = writeInChild(daemon, ending.lines, ending.end);
            int status = -1;
            EXPECT_EQ(daemon.linesUntilEnd(child, status), ending.read.empty() ? ending.lines : ending.read) << protocolName << ending.how;
            if (ending.signal)
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == ending.signal) << protocolName << ending.how << ": status " << status;
            else
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << protocolName << ending.how << ": status " << status;
        }
    }
}

// Its number, then a run of one letter as long as the number says.
std::string recognisableLine(int number)
{
    return std::to_string(number) + ":" + std::string(number % 97, static_cast<char>('a' + number % 26));
}

TEST(SystemLog, FatalSignalsOnOtherThreadsSendEachWholeLineOnceWhileOneWrites)
{
    const std::vector<int> signalsAtOnce[] = { { SIGTERM }, { SIGTERM, SIGINT } };
    for (auto protocol : { LogDaemonProtocol::syslog, LogDaemonProtocol::journal })
        for (const auto& signals : signalsAtOnce)
            for (int attempt = 0; attempt < 8; ++attempt) {
                LogDaemonStandIn daemon(protocol);
                const pid_t child = fork();
                if (child == 0) {
                    auto log = makeSystemLogSendingTo(kIdent, daemon.path(), protocol, false);
                    std::thread([&log] {
                        for (int i = 0;; ++i)
                            i % 3 == 2 ? log->write(recognisableLine(i)) : log->writeLater(recognisableLine(i));
                    }).detach();
                    std::this_thread::sleep_for(std::chrono::milliseconds(1 + attempt));
                    for (int signal : signals)
                        std::thread([signal] { raise(signal), pause(); }).detach();
                    pause();
                }
                int status = -1;
                const auto lines = daemon.linesUntilEnd(child, status);
                const auto garbled = std::find_if(lines.begin(), lines.end(), [](auto& line) { return line != recognisableLine(std::atoi(line.c_str())); });
                EXPECT_TRUE(garbled == lines.end()) << *garbled << " among " << lines.size() << " lines, " << signals.size() << " signals";
                // A line sent by the writer, then again by a handler, would
                // come back in the numbers.
                const auto twiceOrLate = std::adjacent_find(lines.begin(), lines.end(), [](auto& line, auto& next) { return std::atoi(next.c_str()) <= std::atoi(line.c_str()); });
                EXPECT_TRUE(twiceOrLate == lines.end()) << *twiceOrLate << " before " << *std::next(twiceOrLate) << ", " << signals.size() << " signals";
                EXPECT_TRUE(WIFSIGNALED(status)) << "status " << status;
            }
}

// What a handler does, in a loop, while the writer appends, sends and clears
// as fast as it can: a copy it accepts holds whole lines, in a row, none of
// them sent before it asked. A clearing seen in part (the new first number
// with the old count) would pass the lines just sent off as the next ones.
TEST(WaitingLogLines, ACopyAcceptedWhileTheWriterClearsHoldsOnlyLinesNotSentBefore)
{
    auto waiting = std::make_unique<WaitingLogLines>();
    auto copy = std::make_unique<WaitingLogLines::Copy>();
    std::atomic<bool> done { false };
    std::thread writer([&] {
        for (int number = 0; !done.load(std::memory_order_relaxed);) {
            for (const int last = number + number % 5; number <= last; ++number)
                waiting->append("", recognisableLine(number), "");
            if (waiting->takeForSending())
                waiting->sentAndCleared();
        }
    });
    int accepted = 0;
    for (auto end = std::chrono::steady_clock::now() + 1s; std::chrono::steady_clock::now() < end;) {
        const std::uint64_t first = waiting->sentUpTo();
        if (!waiting->copyFrom(first, *copy))
            continue;
        ++accepted;
        std::uint64_t next = first;
        for (std::size_t i = 0; i < copy->count; ++i) {
            const std::string line(static_cast<const char*>(copy->lines[i].iov_base), copy->lines[i].iov_len);
            const int number = std::atoi(line.c_str());
            const bool inRow = i == 0 ? std::uint64_t(number) >= next : std::uint64_t(number) == next;
            if (line != recognisableLine(number) || !inRow) {
                ADD_FAILURE() << "line " << i << " of " << copy->count << ", asked from " << first << ": " << line.substr(0, 20);
                break;
            }
            next = std::uint64_t(number) + 1;
        }
        if (testing::Test::HasFailure())
            break;
    }
    done = true;
    writer.join();
    EXPECT_GT(accepted, 0);
}

TEST(SystemLog, AJournalMessageMayHoldALineBreak)
{
    auto framing = makeJournalFraming(kIdent);
    const std::string text = "one\ntwo";
    const std::string datagram = std::string(framing->before(text)) + text + std::string(framing->after());
    EXPECT_EQ(textOfJournalEntry(datagram, getpid()), text);
}

TEST(SystemLog, AStuckDaemonHoldsNoWriterUp)
{
    LogDaemonStandIn daemon(LogDaemonProtocol::journal);
    const pid_t child = writeInChild(daemon, numberedLines(3000), [](auto& log) { log.reset(); _exit(0); });
    int status = -1;
    daemon.linesUntilEnd(child, status, false);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

} // namespace
} // namespace platform
