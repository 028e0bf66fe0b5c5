#include "platform/linux/log/log_line_framing.h"

#include <endian.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdint>

namespace platform {

namespace {

// The fields every line of ours carries before its message.
std::string fieldsOf(const std::string& ident)
{
    std::string fields = "PRIORITY=" + std::to_string(LOG_NOTICE) + "\n";
    fields += "SYSLOG_FACILITY=" + std::to_string(LOG_FAC(LOG_USER)) + "\n";
    fields += "SYSLOG_IDENTIFIER=" + ident + "\n";
    return fields + "SYSLOG_PID=" + std::to_string(getpid()) + "\n";
}

class JournalFraming final : public LogLineFraming {
public:
    explicit JournalFraming(const std::string& ident)
        : m_fields(fieldsOf(ident))
    {
    }

    std::string_view before(std::string_view text) override
    {
        m_before = m_fields;
        if (text.find('\n') == std::string_view::npos) {
            m_before += "MESSAGE=";
            return m_before;
        }
        // A line break would end the field early: such a value goes after
        // its length instead, 64 bits little-endian.
        m_before += "MESSAGE\n";
        const std::uint64_t length = htole64(text.size());
        m_before.append(reinterpret_cast<const char*>(&length), sizeof length);
        return m_before;
    }

    std::string_view after() const override { return "\n"; }

private:
    const std::string m_fields;
    std::string m_before;
};

} // namespace

std::unique_ptr<LogLineFraming> makeJournalFraming(const std::string& ident)
{
    return std::make_unique<JournalFraming>(ident);
}

} // namespace platform
