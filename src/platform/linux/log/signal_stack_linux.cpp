#include "platform/signal_stack.h"

#include <csignal>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {

namespace {

// Room for the log's handler, which keeps its large buffers elsewhere, and
// for what a sanitizer's interception of signals adds to it.
constexpr std::size_t kStackBytes = 64 * 1024;

// A guard page below the stack, so that a handler that outgrows it faults
// rather than writes over whatever lies beneath.
class SignalStack {
public:
    SignalStack()
    {
        stack_t current {};
        if (sigaltstack(nullptr, &current) != 0 || !(current.ss_flags & SS_DISABLE))
            return;
        const std::size_t guard = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        void* memory = mmap(nullptr, guard + kStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (memory == MAP_FAILED)
            return;
        mprotect(memory, guard, PROT_NONE);
        const stack_t stack { static_cast<char*>(memory) + guard, 0, kStackBytes };
        if (sigaltstack(&stack, nullptr) != 0) {
            munmap(memory, guard + kStackBytes);
            return;
        }
        m_memory = memory;
        m_bytes = guard + kStackBytes;
    }

    ~SignalStack()
    {
        if (!m_memory)
            return;
        const stack_t none { nullptr, SS_DISABLE, 0 };
        sigaltstack(&none, nullptr);
        munmap(m_memory, m_bytes);
    }

    SignalStack(const SignalStack&) = delete;
    SignalStack& operator=(const SignalStack&) = delete;

private:
    void* m_memory { nullptr };
    std::size_t m_bytes { 0 };
};

} // namespace

void giveThreadASignalStack()
{
    // Freed as the thread ends.
    thread_local SignalStack stack;
}

} // namespace platform
