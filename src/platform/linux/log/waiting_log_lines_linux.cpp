#include "platform/linux/log/waiting_log_lines.h"

#include <cstring>

namespace platform {

bool WaitingLogLines::append(std::string_view header, std::string_view text)
{
    const std::size_t count = m_count.load(std::memory_order_relaxed);
    const std::size_t length = header.size() + text.size();
    if (count == kMostLines || length > kBytes - m_usedBytes)
        return false;
    char* line = m_bytes.data() + m_usedBytes;
    std::memcpy(line, header.data(), header.size());
    std::memcpy(line + header.size(), text.data(), text.size());
    m_lines[count] = { line, length };
    m_usedBytes += length;
    // Published only once whole: a signal handler reading the count sends
    // no line half written.
    m_count.store(count + 1, std::memory_order_release);
    return true;
}

void WaitingLogLines::clear()
{
    m_count.store(0, std::memory_order_release);
    m_usedBytes = 0;
}

} // namespace platform
