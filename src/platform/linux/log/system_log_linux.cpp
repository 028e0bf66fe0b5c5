#include "platform/linux/common/retrying_io.h"
#include "platform/linux/log/log_line_escaping.h"
#include "platform/linux_platform.h"

#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>

namespace platform {

namespace {

class Syslog final : public SystemLog {
public:
    explicit Syslog(std::string ident)
        : m_ident(std::move(ident))
        , m_stderrPrefix(m_ident + "[" + std::to_string(getpid()) + "]: ")
        , m_echoToStderr(isatty(STDERR_FILENO) == 1)
    {
        // openlog keeps the pointer, not the text: m_ident must outlive it,
        // hence closelog in the destructor.
        openlog(m_ident.c_str(), LOG_PID, LOG_USER);
    }

    ~Syslog() override { closelog(); }

    Syslog(const Syslog&) = delete;
    Syslog& operator=(const Syslog&) = delete;

    void write(std::string_view line) override
    {
        const std::string escaped = escapeControlCharacters(line);
        // One lock for both outputs keeps them in the same order.
        const std::lock_guard lock(m_mutex);
        if (logDaemonMayListen())
            syslog(LOG_NOTICE, "%s", escaped.c_str());
        if (m_echoToStderr)
            linux_files::writeAll(STDERR_FILENO, m_stderrPrefix + escaped + "\n");
    }

private:
    // Without a log daemon syslog(3) tries to connect again on every line,
    // three system calls that would double the cost of a command. Look for
    // the daemon's socket at most once a second instead; a daemon that
    // starts later is picked up then. Lines written while there is none are
    // lost either way.
    bool logDaemonMayListen()
    {
        const auto now = std::chrono::steady_clock::now();
        if (now >= m_nextDaemonCheck) {
            m_daemonSocketExists = access(_PATH_LOG, F_OK) == 0;
            m_nextDaemonCheck = now + std::chrono::seconds(1);
        }
        return m_daemonSocketExists;
    }

    const std::string m_ident;
    const std::string m_stderrPrefix;
    const bool m_echoToStderr;
    std::mutex m_mutex;
    std::chrono::steady_clock::time_point m_nextDaemonCheck {};
    bool m_daemonSocketExists { false };
};

} // namespace

std::unique_ptr<SystemLog> makeSystemLog(const std::string& ident)
{
    return std::make_unique<Syslog>(ident);
}

} // namespace platform
