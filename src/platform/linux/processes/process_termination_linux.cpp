#include "platform/linux/processes/process_exit_wait.h"
#include "platform/process_termination.h"

#include <signal.h>

namespace platform {

namespace {

class SignalProcessTermination final : public ProcessTermination {
public:
    void forceTerminate(ProcessID process) override
    {
        // kill(0) and kill(-1) would signal whole process groups, ourselves
        // included; no application has such an id.
        if (process > 0)
            kill(process, SIGKILL);
    }

    bool waitUntilEnded(ProcessID process, std::chrono::milliseconds bound) override
    {
        // Such an id names no process, so there is none to wait for.
        return process <= 0 || waitForProcessExit(process, bound);
    }
};

} // namespace

std::unique_ptr<ProcessTermination> makeProcessTermination()
{
    return std::make_unique<SignalProcessTermination>();
}

} // namespace platform
