#include "platform/application_control.h"
#include "platform/four_char_code.h"
#include "platform/linux_platform.h"

#include <signal.h>

#include <utility>

namespace platform {

namespace {

constexpr std::uint32_t kQuitApplication = fourCharCode("quit");
constexpr std::uint32_t kOpenApplication = fourCharCode("oapp");
constexpr std::uint32_t kReopenApplication = fourCharCode("rapp");

// kill() reads 0 and negative numbers as process groups, -1 as every process
// we may signal: never a single application.
bool namesOneProcess(ProcessID process) { return process > 0; }

class LinuxApplicationControl final : public ApplicationControl {
public:
    explicit LinuxApplicationControl(WindowActivation activateWindows)
        : m_activateWindows(std::move(activateWindows))
    {
    }

    void terminate(ProcessID process) override
    {
        if (namesOneProcess(process))
            kill(process, SIGTERM);
    }

    void activateWithAllWindows(ProcessID process) override
    {
        if (namesOneProcess(process))
            m_activateWindows(process);
    }

    // Linux applications know no events; of the core ones, those with a
    // desktop counterpart are carried out in their place.
    CoreEvent sendCoreEvent(std::uint32_t eventID, ProcessID process) override
    {
        switch (eventID) {
        case kQuitApplication:
            terminate(process);
            return CoreEvent::Sent;
        case kOpenApplication:
        case kReopenApplication:
            activateWithAllWindows(process);
            return CoreEvent::Sent;
        default:
            return CoreEvent::CannotBeBuilt;
        }
    }

private:
    WindowActivation m_activateWindows;
};

} // namespace

std::unique_ptr<ApplicationControl> makeApplicationControl(WindowActivation activateWindows)
{
    return std::make_unique<LinuxApplicationControl>(std::move(activateWindows));
}

} // namespace platform
