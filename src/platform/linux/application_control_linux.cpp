#include "platform/application_control.h"
#include "platform/linux/x11_window_activation.h"
#include "platform/linux_platform.h"

#include <signal.h>

namespace platform {

namespace {

constexpr std::uint32_t fourCharCode(const char (&code)[5])
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24
        | static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16
        | static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8
        | static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

constexpr std::uint32_t kQuitApplication = fourCharCode("quit");
constexpr std::uint32_t kOpenApplication = fourCharCode("oapp");
constexpr std::uint32_t kReopenApplication = fourCharCode("rapp");

// kill() reads 0 and negative numbers as process groups, -1 as every process
// we may signal: never a single application.
bool namesOneProcess(ProcessID process) { return process > 0; }

class LinuxApplicationControl final : public ApplicationControl {
public:
    void terminate(ProcessID process) override
    {
        if (namesOneProcess(process))
            kill(process, SIGTERM);
    }

    void activateWithAllWindows(ProcessID process) override
    {
        if (namesOneProcess(process))
            x11::activateWindowsOfProcess(process);
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
};

} // namespace

std::unique_ptr<ApplicationControl> makeApplicationControl()
{
    return std::make_unique<LinuxApplicationControl>();
}

} // namespace platform
