#include "helper/warning_throttle.h"

bool WarningThrottle::allows(Clock::time_point now)
{
    if (m_lastAllowed && now - *m_lastAllowed < m_interval)
        return false;
    m_lastAllowed = now;
    return true;
}
