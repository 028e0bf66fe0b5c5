#include "platform/linux/log/log_line_framing.h"

#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace platform {

namespace {

// What syslog(3) puts before a line: the facility and level, the local
// time, and who wrote it. The month is named in English whatever the
// locale, as syslog(3) does.
class SyslogFraming final : public LogLineFraming {
public:
    explicit SyslogFraming(std::string tag)
        : m_tagAndPid(std::move(tag) + "[" + std::to_string(getpid()) + "]: ")
    {
    }

    // Remade once a second.
    std::string_view before(std::string_view) override
    {
        const std::time_t now = std::time(nullptr);
        if (now != m_second) {
            static constexpr const char* kMonths[] = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
            std::tm local {};
            localtime_r(&now, &local);
            char stamp[48];
            std::snprintf(stamp, sizeof stamp, "<%d>%s %2d %02d:%02d:%02d ", LOG_USER | LOG_NOTICE, kMonths[local.tm_mon], local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec);
            m_header = stamp + m_tagAndPid;
            m_second = now;
        }
        return m_header;
    }

    std::string_view after() const override { return {}; }

private:
    const std::string m_tagAndPid;
    std::time_t m_second { -1 };
    std::string m_header;
};

} // namespace

std::unique_ptr<LogLineFraming> makeSyslogFraming(const std::string& ident)
{
    std::string tag = ident;
    std::replace(tag.begin(), tag.end(), ' ', '-');
    return std::make_unique<SyslogFraming>(std::move(tag));
}

} // namespace platform
