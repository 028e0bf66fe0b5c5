#include "helper/warning_throttle.h"

bool WarningThrottle::allows(Clock::time_point now)
{
    if (m_lastAllowed && now - *m_lastAllowed < m_interval)
        return false;
    m_lastAllowed = now;
    return true;
}

bool WarningThrottles::allows(const std::string& cause, WarningThrottle::Clock::time_point now)
{
    auto throttle = m_throttles.find(cause);
    if (throttle == m_throttles.end()) {
        if (m_throttles.size() >= kMostCauses)
            m_throttles.clear();
        throttle = m_throttles.emplace(cause, WarningThrottle(m_interval)).first;
    }
    return throttle->second.allows(now);
}
