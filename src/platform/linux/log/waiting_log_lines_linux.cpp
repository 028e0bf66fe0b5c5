#include "platform/linux/log/waiting_log_lines.h"

#include <algorithm>

namespace platform {

namespace {

// Byte by byte through atomics: a copy may read the bytes while they are
// written over, and the generation tells it so afterwards. Release and
// acquire, as the sequence lock needs (on x86 these cost what plain ones do).
void store(char* to, std::string_view from) noexcept
{
    for (char byte : from)
        std::atomic_ref(*to++).store(byte, std::memory_order_release);
}

void load(char* to, const char* from, std::size_t length) noexcept
{
    for (std::size_t i = 0; i < length; ++i)
        to[i] = std::atomic_ref(const_cast<char&>(from[i])).load(std::memory_order_acquire);
}

} // namespace

bool WaitingLogLines::append(std::string_view before, std::string_view text, std::string_view after)
{
    const std::size_t count = m_count.load(std::memory_order_relaxed);
    const std::size_t length = before.size() + text.size() + after.size();
    if (count == kMostLines || length > kBytes - m_usedBytes)
        return false;
    char* line = m_bytes.data() + m_usedBytes;
    char* end = line;
    for (std::string_view piece : { before, text, after }) {
        store(end, piece);
        end += piece.size();
    }
    m_lines[count] = { line, length };
    m_usedBytes += length;
    m_ends[count].store(m_usedBytes, std::memory_order_release);
    // Published only once whole: a copy reading the count takes no line
    // half written.
    m_count.store(count + 1, std::memory_order_release);
    return true;
}

bool WaitingLogLines::takeForSending() noexcept
{
    // All that was taken before has been sent and cleared, so that what
    // waits now starts at the first line not sent.
    std::uint64_t sent = m_sent.load(std::memory_order_relaxed);
    const std::uint64_t end = m_firstNumber.load(std::memory_order_relaxed) + m_count.load(std::memory_order_relaxed);
    return m_taken.compare_exchange_strong(sent, end, std::memory_order_acq_rel);
}

void WaitingLogLines::sentAndCleared() noexcept
{
    const std::uint64_t end = m_firstNumber.load(std::memory_order_relaxed) + m_count.load(std::memory_order_relaxed);
    m_sent.store(end, std::memory_order_release);
    const std::uint64_t generation = m_generation.load(std::memory_order_relaxed);
    m_generation.store(generation + 1, std::memory_order_relaxed);
    // Release: a copy that reads either new value must then see the odd
    // generation, or it would take the lines just sent for the ones after.
    m_count.store(0, std::memory_order_release);
    m_firstNumber.store(end, std::memory_order_release);
    m_usedBytes = 0;
    m_generation.store(generation + 2, std::memory_order_release);
}

std::uint64_t WaitingLogLines::takeOver() noexcept
{
    return m_taken.fetch_or(kTakenOver, std::memory_order_acq_rel) & ~kTakenOver;
}

bool WaitingLogLines::copyFrom(std::uint64_t first, Copy& copy) const noexcept
{
    const std::uint64_t generation = m_generation.load(std::memory_order_acquire);
    if (generation % 2 != 0)
        return false;
    const std::uint64_t firstNumber = m_firstNumber.load(std::memory_order_acquire);
    const std::size_t count = m_count.load(std::memory_order_acquire);
    // Lines before the first that waits have been sent: a handler that
    // gave up waiting for the writer may ask for them all the same.
    first = std::max(first, firstNumber);
    if (first > firstNumber + count)
        return false;
    const std::size_t from = first - firstNumber;
    // Values of a later generation may be out of order; the check below
    // throws the copy away then, but it must stay in bounds.
    std::size_t start = from == 0 ? 0 : std::min(m_ends[from - 1].load(std::memory_order_acquire), kBytes);
    copy.count = 0;
    for (std::size_t i = from; i < count; ++i) {
        const std::size_t end = std::clamp(m_ends[i].load(std::memory_order_acquire), start, kBytes);
        load(copy.bytes.data() + start, m_bytes.data() + start, end - start);
        copy.lines[copy.count++] = { copy.bytes.data() + start, end - start };
        start = end;
    }
    return m_generation.load(std::memory_order_relaxed) == generation;
}

} // namespace platform
