#pragma once

#include "platform/linux/common/dbus_bus.h"
#include "platform/linux/common/owned_descriptor.h"
#include "platform/power_assertions.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform::linux_power {

// The services that can keep a Linux desktop from idling into sleep, in the
// order they are asked: GNOME's automatic suspend obeys the session manager,
// KDE's obeys the PowerManagement inhibition service, and logind's own idle
// action obeys an "idle" inhibitor.
enum class Holder { SessionManager,
    PowerManagement,
    Logind };

// What one service granted: a cookie to hand back, or for logind a
// descriptor whose closing ends the inhibitor.
struct Grant {
    Holder holder;
    std::uint32_t cookie { 0 };
    linux_files::OwnedDescriptor descriptor;
};

// The idle-sleep assertions of this process and the sleep, shut-down and
// restart requests to logind, in one place, because an assertion held at a
// desktop service may be turned into a sleep lock that would stand in the way
// of our own request.
class DesktopPower {
public:
    explicit DesktopPower(std::string applicationName);

    std::int32_t createAssertion(const std::string& reason, PowerAssertions::AssertionID& assertionID);
    std::int32_t releaseAssertion(PowerAssertions::AssertionID assertionID);
    std::int32_t sendSystemEvent(std::uint32_t eventID);
    // Gives back every grant and refuses new assertions from then on.
    void releaseAllAndClose();

private:
    struct Assertion {
        std::string reason;
        std::optional<Grant> grant;
    };

    std::optional<Grant> takeAnywhere(const std::string& reason);
    std::optional<Grant> takeAt(Holder holder, const std::string& reason);
    bool giveBack(Grant& grant);
    // Gives back the grants a desktop may have turned into a sleep lock;
    // the assertions whose grants were given back.
    std::vector<PowerAssertions::AssertionID> setAsideSleepLocks();
    void takeBack(const std::vector<PowerAssertions::AssertionID>& setAside);

    std::string m_applicationName;
    linux_dbus::BusConnection m_sessionBus { G_BUS_TYPE_SESSION };
    linux_dbus::BusConnection m_systemBus { G_BUS_TYPE_SYSTEM };
    // The process ends on the main thread while the listener thread may
    // still be serving a command, so every entry point takes this lock.
    std::mutex m_lock;
    std::map<PowerAssertions::AssertionID, Assertion> m_assertions;
    PowerAssertions::AssertionID m_nextID { 1 };
    bool m_closed { false };
};

} // namespace platform::linux_power
