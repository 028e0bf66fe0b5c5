#include "platform/linux/log/system_log_linux.h"

#include "platform/linux/common/retrying_io.h"
#include "platform/linux/log/lines_sent_at_end.h"
#include "platform/linux/log/log_daemon_link.h"
#include "platform/linux/log/log_line_escaping.h"
#include "platform/linux/log/log_line_framing.h"
#include "platform/linux/log/waiting_log_lines.h"
#include "platform/linux_platform.h"

#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <mutex>

namespace platform {

namespace {

// journald's own socket. Where it is there journald runs, and its native
// protocol keeps the identifier whole, which a syslog tag cannot.
constexpr const char* kJournalSocket = "/run/systemd/journal/socket";

// Every line goes to the daemon as one datagram, and the kernel takes one
// of at most the socket's send buffer, some 208 KiB unless the system says
// otherwise. Longer text is cut, so that its start is in the log rather
// than none of it.
constexpr std::size_t kLongestText = 128 * 1024;
constexpr std::string_view kCutMark = "…";

// How often a signal handler tries to copy the waiting lines while another
// thread clears them, a millisecond apart.
constexpr int kCopyAttempts = 50;
// How long, in milliseconds, a signal handler waits for the writer to send
// the lines it took: past the daemon's wait for room.
constexpr int kWaitsForTheWriter = 300;

// Cut where no UTF-8 character is split.
std::string_view cutToFitADatagram(std::string_view text)
{
    std::size_t end = kLongestText - kCutMark.size();
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xc0) == 0x80)
        --end;
    return text.substr(0, end);
}

class DaemonLog final : public SystemLog, private LinesSentAtEnd {
public:
    DaemonLog(const std::string& ident, std::unique_ptr<LogLineFraming> framing, const std::string& daemonSocket, bool echoToStderr)
        : m_stderrPrefix(ident + "[" + std::to_string(getpid()) + "]: ")
        , m_framing(std::move(framing))
        , m_daemon(daemonSocket)
        , m_echoToStderr(echoToStderr)
    {
        sendAtProcessEnd(this);
    }

    ~DaemonLog() override
    {
        sendAtProcessEnd(nullptr);
        sendWaitingLines();
    }

    DaemonLog(const DaemonLog&) = delete;
    DaemonLog& operator=(const DaemonLog&) = delete;

    void write(std::string_view line) override
    {
        const std::lock_guard lock(m_mutex);
        keep(line);
        sendKept();
    }

    void writeLater(std::string_view line) override
    {
        const std::lock_guard lock(m_mutex);
        keep(line);
    }

    void sendWaitingLines() override
    {
        const std::lock_guard lock(m_mutex);
        sendKept();
    }

    bool hasWaitingLines() const override { return m_waiting.count() > 0; }

private:
    void sendAtExit() override { sendWaitingLines(); }

    // Runs beside a writer that may go on. What the writer is sending is
    // waited for, and the rest sent here; so each line is sent once.
    void sendFromSignalHandler() noexcept override
    {
        const timespec pause { 0, 1'000'000 };
        std::uint64_t first = m_waiting.takeOver();
        for (int attempt = 0; m_waiting.sentUpTo() < first; ++attempt) {
            // The writer is stuck, or this handler interrupted it: its
            // lines are sent again, since twice is better than never.
            if (attempt == kWaitsForTheWriter) {
                first = m_waiting.sentUpTo();
                break;
            }
            nanosleep(&pause, nullptr);
        }
        for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
            if (m_waiting.copyFrom(first, m_copyAtEnd)) {
                m_daemon.sendFromSignalHandler(m_copyAtEnd.lines.data(), m_copyAtEnd.count);
                return;
            }
            nanosleep(&pause, nullptr);
        }
    }

    void keep(std::string_view line)
    {
        const bool toDaemon = m_daemon.mayListen();
        if (!toDaemon && !m_echoToStderr)
            return;
        std::string escaped;
        if (hasControlCharacters(line)) {
            escaped = escapeControlCharacters(line);
            line = escaped;
        }
        if (m_echoToStderr)
            linux_files::writeAll(STDERR_FILENO, m_stderrPrefix + std::string(line) + "\n");
        if (toDaemon)
            keepForDaemon(line);
    }

    void keepForDaemon(std::string_view text)
    {
        std::string cut;
        if (text.size() > kLongestText) {
            cut = std::string(cutToFitADatagram(text)) + std::string(kCutMark);
            text = cut;
        }
        const std::string_view before = m_framing->before(text);
        const std::string_view after = m_framing->after();
        if (m_waiting.append(before, text, after))
            return;
        if (sendKept() && !m_waiting.append(before, text, after)) {
            // Longer than all the room there is: it goes on its own.
            const std::string whole = std::string(before) + std::string(text) + std::string(after);
            const iovec datagram { const_cast<char*>(whole.data()), whole.size() };
            m_daemon.send(&datagram, 1);
        }
    }

    // False when a signal handler has taken the lines over.
    bool sendKept()
    {
        // A command answered with its lines already gone costs no system call.
        if (m_waiting.count() == 0)
            return true;
        const EndingSignalsHeldBack heldBack;
        if (!m_waiting.takeForSending())
            return false;
        m_daemon.send(m_waiting.lines(), m_waiting.count());
        m_waiting.sentAndCleared();
        return true;
    }

    const std::string m_stderrPrefix;
    const std::unique_ptr<LogLineFraming> m_framing;
    LogDaemonLink m_daemon;
    const bool m_echoToStderr;
    // Keeps the lines of every thread, and standard error's copy, in one
    // order.
    std::mutex m_mutex;
    WaitingLogLines m_waiting;
    // One handler sends at a time, so one copy serves them all; kept here
    // since a handler may run where little stack is left.
    WaitingLogLines::Copy m_copyAtEnd {};
};

} // namespace

std::unique_ptr<SystemLog> makeSystemLogSendingTo(const std::string& ident, const std::string& daemonSocket, LogDaemonProtocol protocol, bool echoToStderr)
{
    auto framing = protocol == LogDaemonProtocol::journal ? makeJournalFraming(ident) : makeSyslogFraming(ident);
    return std::make_unique<DaemonLog>(ident, std::move(framing), daemonSocket, echoToStderr);
}

std::unique_ptr<SystemLog> makeSystemLog(const std::string& ident)
{
    const bool echoToStderr = isatty(STDERR_FILENO) == 1;
    if (access(kJournalSocket, F_OK) == 0)
        return makeSystemLogSendingTo(ident, kJournalSocket, LogDaemonProtocol::journal, echoToStderr);
    return makeSystemLogSendingTo(ident, _PATH_LOG, LogDaemonProtocol::syslog, echoToStderr);
}

} // namespace platform
