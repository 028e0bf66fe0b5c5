#include "platform/linux/log/waiting_log_lines.h"

#include <cstring>

namespace platform {

bool WaitingLogLines::append(std::string_view before, std::string_view text, std::string_view after)
{
    const std::size_t count = m_count.load(std::memory_order_relaxed);
    const std::size_t length = before.size() + text.size() + after.size();
    if (count == kMostLines || length > kBytes - m_usedBytes)
        return false;
    char* line = m_bytes.data() + m_usedBytes;
    char* end = line;
    for (std::string_view piece : { before, text, after }) {
        if (piece.empty())
            continue; // whose data() may be null, which memcpy may not take
        std::memcpy(end, piece.data(), piece.size());
        end += piece.size();
    }
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
