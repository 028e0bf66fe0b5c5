#include "platform/linux/power/desktop_power.h"
#include "platform/linux_platform.h"

#include <memory>

namespace platform {
namespace {

using linux_power::DesktopPower;

class DesktopPowerAssertions final : public PowerAssertions {
public:
    explicit DesktopPowerAssertions(std::shared_ptr<DesktopPower> power)
        : m_power(std::move(power))
    {
    }

    std::int32_t createWithName(const std::string& type, std::uint32_t level, const std::string& name,
        AssertionID& assertionID) override
    {
        // Idle sleep is all the desktop services can be asked to hold off.
        if (type != kPreventUserIdleSystemSleep || level != kLevelOn)
            return kUnsupported;
        return m_power->createAssertion(name, assertionID);
    }

    std::int32_t release(AssertionID assertionID) override { return m_power->releaseAssertion(assertionID); }

    void releaseAllAtExit() override { m_power->releaseAllAndClose(); }

private:
    std::shared_ptr<DesktopPower> m_power;
};

class LogindSystemEvents final : public SystemEvents {
public:
    explicit LogindSystemEvents(std::shared_ptr<DesktopPower> power)
        : m_power(std::move(power))
    {
    }

    std::int32_t sendToSystemProcess(std::uint32_t eventID) override { return m_power->sendSystemEvent(eventID); }

private:
    std::shared_ptr<DesktopPower> m_power;
};

} // namespace

PowerServices makePowerServices(const std::string& applicationName)
{
    auto power = std::make_shared<DesktopPower>(applicationName);
    return { std::make_unique<DesktopPowerAssertions>(power), std::make_unique<LogindSystemEvents>(power) };
}

} // namespace platform
