#include "platform/linux/log/lines_sent_at_end.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <mutex>

namespace platform {

namespace {

std::atomic<LinesSentAtEnd*> g_lines { nullptr };

extern "C" void sendThenEnd(int signal)
{
    if (auto* lines = g_lines.load())
        lines->sendFromSignalHandler();
    // SA_RESETHAND has put the default action back, and the signal is
    // blocked until this handler returns: then it ends the process as it
    // would have without us.
    raise(signal);
}

void sendAtExit()
{
    if (auto* lines = g_lines.load())
        lines->sendAtExit();
}

// The signals whose default action ends the process. Where someone else
// has set an action (a sanitizer's crash report, say), theirs stands.
void installHandlers()
{
    struct sigaction action = {};
    action.sa_handler = sendThenEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signal : { SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS, SIGTERM, SIGINT, SIGHUP, SIGQUIT }) {
        struct sigaction current = {};
        if (sigaction(signal, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_DFL)
            sigaction(signal, &action, nullptr);
    }
    std::atexit(sendAtExit);
}

} // namespace

void sendAtProcessEnd(LinesSentAtEnd* lines)
{
    static std::once_flag installed;
    std::call_once(installed, installHandlers);
    g_lines.store(lines);
}

} // namespace platform
