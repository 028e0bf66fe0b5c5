#include "platform/linux/power/desktop_power.h"

#include "platform/system_events.h"

#include <algorithm>
#include <array>
#include <utility>

namespace platform::linux_power {
namespace {

using linux_dbus::CallOutcome;
using linux_dbus::MethodAddress;

constexpr const char* kSessionManagerName = "org.gnome.SessionManager";
constexpr const char* kSessionManagerPath = "/org/gnome/SessionManager";
// Where KDE's power daemon (and others that follow the freedesktop power
// management interface) takes inhibitions.
constexpr const char* kPowerManagementName = "org.freedesktop.PowerManagement";
constexpr const char* kPowerManagementPath = "/org/freedesktop/PowerManagement/Inhibit";
constexpr const char* kPowerManagementInterface = "org.freedesktop.PowerManagement.Inhibit";
constexpr const char* kLogindName = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";

// The session manager's "suspending" flag: holds off automatic suspend and
// leaves the screen free to blank, unlike its "idle" flag (8).
constexpr std::uint32_t kInhibitSuspending = 4;

constexpr std::array kHolderOrder { Holder::SessionManager, Holder::PowerManagement, Holder::Logind };

// Desktop services may turn what they grant into a logind sleep lock (GNOME's
// session manager does, for the suspending flag). A logind "idle" inhibitor
// never stands in the way of an explicit request.
bool mayLockSleep(Holder holder) { return holder != Holder::Logind; }

struct SystemRequest {
    std::uint32_t eventID;
    const char* logindMethod;
};
constexpr std::array kSystemRequests {
    SystemRequest { SystemEvents::kSleep, "Suspend" },
    SystemRequest { SystemEvents::kShutDown, "PowerOff" },
    SystemRequest { SystemEvents::kRestart, "Reboot" },
};

std::int32_t eventStatus(CallOutcome outcome)
{
    switch (outcome) {
    case CallOutcome::Replied:
        return SystemEvents::kDelivered;
    case CallOutcome::Unreachable:
        return SystemEvents::kSystemProcessUnreachable;
    case CallOutcome::TimedOut:
        return SystemEvents::kTimedOut;
    case CallOutcome::Refused:
        break;
    }
    return SystemEvents::kEventRefused;
}

std::uint32_t cookieOf(const linux_dbus::Reply& reply)
{
    std::uint32_t cookie = 0;
    g_variant_get(reply.body.get(), "(u)", &cookie);
    return cookie;
}

linux_files::OwnedDescriptor descriptorOf(const linux_dbus::Reply& reply)
{
    gint32 index = -1;
    g_variant_get(reply.body.get(), "(h)", &index);
    if (!reply.descriptors || index < 0 || index >= g_unix_fd_list_get_length(reply.descriptors.get()))
        return linux_files::OwnedDescriptor();
    // A duplicate marked close-on-exec, so programs we start do not keep
    // the inhibitor alive.
    return linux_files::OwnedDescriptor(g_unix_fd_list_get(reply.descriptors.get(), index, nullptr));
}

} // namespace

DesktopPower::DesktopPower(std::string applicationName)
    : m_applicationName(std::move(applicationName))
{
}

std::optional<Grant> DesktopPower::takeAt(Holder holder, const std::string& reason)
{
    auto const* app = m_applicationName.c_str();
    switch (holder) {
    case Holder::SessionManager: {
        auto reply = m_sessionBus.call({ kSessionManagerName, kSessionManagerPath, kSessionManagerName, "Inhibit" },
            g_variant_new("(susu)", app, 0U, reason.c_str(), kInhibitSuspending), G_VARIANT_TYPE("(u)"));
        if (reply.outcome != CallOutcome::Replied)
            return std::nullopt;
        return Grant { holder, cookieOf(reply), linux_files::OwnedDescriptor() };
    }
    case Holder::PowerManagement: {
        auto reply = m_sessionBus.call({ kPowerManagementName, kPowerManagementPath, kPowerManagementInterface, "Inhibit" },
            g_variant_new("(ss)", app, reason.c_str()), G_VARIANT_TYPE("(u)"));
        if (reply.outcome != CallOutcome::Replied)
            return std::nullopt;
        return Grant { holder, cookieOf(reply), linux_files::OwnedDescriptor() };
    }
    case Holder::Logind: {
        auto reply = m_systemBus.call({ kLogindName, kLogindPath, kLogindManager, "Inhibit" },
            g_variant_new("(ssss)", "idle", app, reason.c_str(), "block"), G_VARIANT_TYPE("(h)"));
        if (reply.outcome != CallOutcome::Replied)
            return std::nullopt;
        auto descriptor = descriptorOf(reply);
        if (!descriptor.isValid())
            return std::nullopt;
        return Grant { holder, 0, std::move(descriptor) };
    }
    }
    return std::nullopt;
}

std::optional<Grant> DesktopPower::takeAnywhere(const std::string& reason)
{
    for (auto holder : kHolderOrder) {
        if (auto grant = takeAt(holder, reason))
            return grant;
    }
    return std::nullopt;
}

bool DesktopPower::giveBack(Grant& grant)
{
    switch (grant.holder) {
    case Holder::SessionManager:
        return m_sessionBus
                   .call({ kSessionManagerName, kSessionManagerPath, kSessionManagerName, "Uninhibit" },
                       g_variant_new("(u)", grant.cookie), nullptr)
                   .outcome
            == CallOutcome::Replied;
    case Holder::PowerManagement:
        return m_sessionBus
                   .call({ kPowerManagementName, kPowerManagementPath, kPowerManagementInterface, "UnInhibit" },
                       g_variant_new("(u)", grant.cookie), nullptr)
                   .outcome
            == CallOutcome::Replied;
    case Holder::Logind:
        grant.descriptor = linux_files::OwnedDescriptor();
        return true;
    }
    return false;
}

std::int32_t DesktopPower::createAssertion(const std::string& reason, PowerAssertions::AssertionID& assertionID)
{
    std::lock_guard hold(m_lock);
    // A grant taken while the process ends would be left for the service to
    // clean up once we vanish from the bus.
    if (m_closed)
        return PowerAssertions::kError;
    auto grant = takeAnywhere(reason);
    if (!grant)
        return PowerAssertions::kError;
    // Identifiers are never reused and never reach the "none held" value.
    assertionID = m_nextID++;
    m_assertions[assertionID] = Assertion { reason, std::move(grant) };
    return PowerAssertions::kSuccess;
}

std::int32_t DesktopPower::releaseAssertion(PowerAssertions::AssertionID assertionID)
{
    std::lock_guard hold(m_lock);
    auto found = m_assertions.find(assertionID);
    if (found == m_assertions.end())
        return PowerAssertions::kNotFound;
    auto assertion = std::move(found->second);
    m_assertions.erase(found);
    if (assertion.grant && !giveBack(*assertion.grant))
        return PowerAssertions::kError;
    return PowerAssertions::kSuccess;
}

// Each give-back is a bounded call, so an ending process waits for a hung
// service no longer than for any other request.
void DesktopPower::releaseAllAndClose()
{
    std::lock_guard hold(m_lock);
    m_closed = true;
    for (auto& [id, assertion] : m_assertions) {
        if (assertion.grant)
            giveBack(*assertion.grant);
    }
    m_assertions.clear();
}

std::vector<PowerAssertions::AssertionID> DesktopPower::setAsideSleepLocks()
{
    std::vector<PowerAssertions::AssertionID> setAside;
    for (auto& [id, assertion] : m_assertions) {
        if (assertion.grant && mayLockSleep(assertion.grant->holder) && giveBack(*assertion.grant))
            setAside.push_back(id);
    }
    return setAside;
}

// Taken again where they were held, so an assertion outlives the request as
// its owner expects. If the service refuses now, the assertion is kept
// without a grant and releasing it later has nothing to give back.
void DesktopPower::takeBack(const std::vector<PowerAssertions::AssertionID>& setAside)
{
    for (auto id : setAside) {
        auto& assertion = m_assertions.at(id);
        assertion.grant = takeAt(assertion.grant->holder, assertion.reason);
    }
}

std::int32_t DesktopPower::sendSystemEvent(std::uint32_t eventID)
{
    auto const* request = std::ranges::find(kSystemRequests, eventID, &SystemRequest::eventID);
    if (request == kSystemRequests.end())
        return SystemEvents::kEventNotHandled;
    std::lock_guard hold(m_lock);

    // Our own assertion is there to stop idle sleep only; it must not make
    // logind refuse a sleep or shut-down the user asked for.
    auto setAside = setAsideSleepLocks();
    auto reply = m_systemBus.call({ kLogindName, kLogindPath, kLogindManager, request->logindMethod },
        g_variant_new("(b)", FALSE), nullptr);
    takeBack(setAside);
    return eventStatus(reply.outcome);
}

} // namespace platform::linux_power
