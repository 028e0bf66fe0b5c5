#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace platform {

// What wraps a line's text for the log daemon, in the daemon's own format.
class LogLineFraming {
public:
    virtual ~LogLineFraming() = default;
    // What goes before `text`; valid until the next call.
    virtual std::string_view before(std::string_view text) = 0;
    virtual std::string_view after() const = 0;
};

// The syslog format that rsyslog and journald read on /dev/log:
// "<13>Mmm dd hh:mm:ss TAG[pid]: text". A reader ends the tag at its first
// blank, so blanks in `ident` become dashes.
std::unique_ptr<LogLineFraming> makeSyslogFraming(const std::string& ident);

// journald's native format, read on /run/systemd/journal/socket: a field a
// line, so `ident` reaches the journal whole, blanks and all.
std::unique_ptr<LogLineFraming> makeJournalFraming(const std::string& ident);

} // namespace platform
