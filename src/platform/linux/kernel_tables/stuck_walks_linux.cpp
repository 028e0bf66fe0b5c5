#include "platform/linux/kernel_tables/stuck_walks.h"

namespace platform::linux_files {

bool StuckWalks::admits(dev_t fileSystem) const
{
    std::lock_guard hold(m_lock);
    return m_fileSystems.size() < kMostStuckInAll && !m_fileSystems.contains(fileSystem);
}

void StuckWalks::hold(dev_t fileSystem)
{
    std::lock_guard hold(m_lock);
    m_fileSystems.insert(fileSystem);
}

void StuckWalks::release(dev_t fileSystem)
{
    std::lock_guard hold(m_lock);
    if (auto found = m_fileSystems.find(fileSystem); found != m_fileSystems.end())
        m_fileSystems.erase(found);
}

std::size_t StuckWalks::count() const
{
    std::lock_guard hold(m_lock);
    return m_fileSystems.size();
}

StuckWalks& stuckWalks()
{
    static auto* walks = new StuckWalks;
    return *walks;
}

} // namespace platform::linux_files
