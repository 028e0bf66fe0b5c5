#include "platform/linux/windows/window_watcher_slots.h"

namespace platform::x11 {

bool WindowWatcherSlots::take(ProcessID process)
{
    std::lock_guard hold(m_lock);
    if (m_watched.size() >= m_most)
        return false;
    return m_watched.insert(process).second;
}

void WindowWatcherSlots::release(ProcessID process)
{
    std::lock_guard hold(m_lock);
    m_watched.erase(process);
}

} // namespace platform::x11
