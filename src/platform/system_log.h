#pragma once

#include <string_view>

namespace platform {

class SystemLog {
public:
    virtual ~SystemLog() = default;
    // Sends the line, after any that wait.
    virtual void write(std::string_view line) = 0;

    // Keeps the line, in order with the others, until sendWaitingLines, the
    // next write, or the end of the process, a crash included: a reply need
    // not wait for the log daemon, and the line naming a command that
    // crashed the process still reaches the log. Without that support the
    // line is sent at once.
    virtual void writeLater(std::string_view line) { write(line); }
    virtual void sendWaitingLines() { }
    virtual bool hasWaitingLines() const { return false; }
};

} // namespace platform
