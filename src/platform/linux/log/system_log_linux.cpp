#include "platform/linux/log/system_log_linux.h"

#include "platform/linux/common/retrying_io.h"
#include "platform/linux/log/lines_sent_at_end.h"
#include "platform/linux/log/log_daemon_link.h"
#include "platform/linux/log/log_line_escaping.h"
#include "platform/linux/log/waiting_log_lines.h"
#include "platform/linux_platform.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <mutex>

namespace platform {

namespace {

// What syslog(3) puts before a line: the facility and level, the local
// time, and who wrote it. The month is named in English whatever the
// locale, as syslog(3) does.
class SyslogHeader {
public:
    explicit SyslogHeader(const std::string& ident)
        : m_ident(ident + "[" + std::to_string(getpid()) + "]: ")
    {
    }

    // Remade once a second.
    const std::string& now()
    {
        const std::time_t now = std::time(nullptr);
        if (now != m_second) {
            static constexpr const char* kMonths[] = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
            std::tm local {};
            localtime_r(&now, &local);
            char stamp[48];
            std::snprintf(stamp, sizeof stamp, "<%d>%s %2d %02d:%02d:%02d ", LOG_USER | LOG_NOTICE, kMonths[local.tm_mon], local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec);
            m_header = stamp + m_ident;
            m_second = now;
        }
        return m_header;
    }

    // What standard error shows before a line.
    const std::string& ident() const { return m_ident; }

private:
    const std::string m_ident;
    std::time_t m_second { -1 };
    std::string m_header;
};

class DaemonLog final : public SystemLog, private LinesSentAtEnd {
public:
    DaemonLog(const std::string& ident, const std::string& daemonSocket, bool echoToStderr)
        : m_header(ident)
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

    // A line the writer was sending at that moment may reach the log twice;
    // none is lost.
    void sendFromSignalHandler() noexcept override { m_daemon.send(m_waiting.lines(), m_waiting.count()); }

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
            linux_files::writeAll(STDERR_FILENO, m_header.ident() + std::string(line) + "\n");
        if (!toDaemon)
            return;
        const std::string& header = m_header.now();
        if (m_waiting.append(header, line))
            return;
        sendKept();
        if (!m_waiting.append(header, line)) {
            // Longer than all the room there is: it goes on its own.
            const std::string whole = header + std::string(line);
            const iovec datagram { const_cast<char*>(whole.data()), whole.size() };
            m_daemon.send(&datagram, 1);
        }
    }

    void sendKept()
    {
        m_daemon.send(m_waiting.lines(), m_waiting.count());
        m_waiting.clear();
    }

    SyslogHeader m_header;
    LogDaemonLink m_daemon;
    const bool m_echoToStderr;
    // Keeps the lines of every thread, and standard error's copy, in one
    // order.
    std::mutex m_mutex;
    WaitingLogLines m_waiting;
};

} // namespace

std::unique_ptr<SystemLog> makeSystemLogSendingTo(const std::string& ident, const std::string& daemonSocket, bool echoToStderr)
{
    return std::make_unique<DaemonLog>(ident, daemonSocket, echoToStderr);
}

std::unique_ptr<SystemLog> makeSystemLog(const std::string& ident)
{
    return makeSystemLogSendingTo(ident, _PATH_LOG, isatty(STDERR_FILENO) == 1);
}

} // namespace platform
