#pragma once

#include <csignal>

namespace platform {

// Log lines that must reach the log however the process ends.
class LinesSentAtEnd {
public:
    // At exit(): may take locks.
    virtual void sendAtExit() = 0;
    // When a signal ends the process: async-signal-safe, and without the
    // locks that the interrupted thread may hold.
    virtual void sendFromSignalHandler() noexcept = 0;

protected:
    ~LinesSentAtEnd() = default;
};

// Makes `lines` the ones sent at exit and before a signal ends the process
// (any signal but SIGKILL and SIGSTOP whose action is still the default);
// nullptr for none. The signal then ends the process as it would have.
void sendAtProcessEnd(LinesSentAtEnd* lines);

// Holds back, on the calling thread, the signals another process sends to
// end this one, while lines are half sent: their handler would not know
// how many went. The kernel gives them to another thread meanwhile, or to
// this one once it lets them through.
class EndingSignalsHeldBack {
public:
    EndingSignalsHeldBack() noexcept;
    ~EndingSignalsHeldBack();
    EndingSignalsHeldBack(const EndingSignalsHeldBack&) = delete;
    EndingSignalsHeldBack& operator=(const EndingSignalsHeldBack&) = delete;

private:
    sigset_t m_before;
};

} // namespace platform
