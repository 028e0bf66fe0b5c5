#include "platform/linux/log/lines_sent_at_end.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <pthread.h>
#include <unistd.h>

namespace platform {

namespace {

std::atomic<LinesSentAtEnd*> g_lines { nullptr };
// The thread whose handler sends the lines; 0 before any does.
std::atomic<pid_t> g_sendingThread { 0 };
// A lock inside an atomic could be held by the thread a handler interrupted.
static_assert(std::atomic<LinesSentAtEnd*>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free);

// Long past what a send takes, a daemon that falls behind included.
constexpr int kMostWaitsForTheSender = 200;

// Another thread's handler sends the lines, then ends the process: ending
// it first would cut that send short.
void waitForTheSender()
{
    const timespec pause { 0, 10'000'000 };
    for (int i = 0; i < kMostWaitsForTheSender; ++i)
        nanosleep(&pause, nullptr);
}

extern "C" void sendThenEnd(int signal)
{
    pid_t sender = 0;
    const pid_t self = gettid();
    if (g_sendingThread.compare_exchange_strong(sender, self)) {
        if (auto* lines = g_lines.load())
            lines->sendFromSignalHandler();
    } else if (sender != self) {
        waitForTheSender();
    }
    // SA_RESETHAND has put the default action back: let through, the
    // signal ends the process as it would have without us.
    raise(signal);
    sigset_t raised;
    sigemptyset(&raised);
    sigaddset(&raised, signal);
    pthread_sigmask(SIG_UNBLOCK, &raised, nullptr);
    // Still here: the first process of a PID namespace (a container's entry
    // point), whose signals of default action the kernel drops when they
    // come from inside. It would otherwise go on without its log.
    _exit(128 + signal);
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
    // On the stack giveThreadASignalStack gave, where there is one: the
    // thread's own may be what ran out.
    action.sa_flags = SA_RESETHAND | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : { SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS, SIGTERM, SIGINT, SIGHUP, SIGQUIT }) {
        struct sigaction current = {};
        if (sigaction(signal, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_DFL)
            sigaction(signal, &action, nullptr);
    }
    std::atexit(sendAtExit);
}

} // namespace

EndingSignalsHeldBack::EndingSignalsHeldBack() noexcept
{
    sigset_t ending;
    sigemptyset(&ending);
    for (int signal : { SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGABRT })
        sigaddset(&ending, signal);
    pthread_sigmask(SIG_BLOCK, &ending, &m_before);
}

EndingSignalsHeldBack::~EndingSignalsHeldBack()
{
    pthread_sigmask(SIG_SETMASK, &m_before, nullptr);
}

void sendAtProcessEnd(LinesSentAtEnd* lines)
{
    static std::once_flag installed;
    std::call_once(installed, installHandlers);
    g_lines.store(lines);
}

} // namespace platform
