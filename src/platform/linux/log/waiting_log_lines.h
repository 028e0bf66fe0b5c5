#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <string_view>
#include <sys/uio.h>

namespace platform {

// Lines, ready to send, that wait their turn. Their storage is fixed from
// the start, so that a signal handler can send what waits without
// allocating, and without a lock that the thread it interrupted may hold.
class WaitingLogLines {
public:
    // Some 32 commands' worth: enough to gather the lines of commands sent
    // back to back, few enough that none waits long.
    static constexpr std::size_t kMostLines = 64;
    static constexpr std::size_t kBytes = 64 * 1024;

    WaitingLogLines() = default;
    WaitingLogLines(const WaitingLogLines&) = delete;
    WaitingLogLines& operator=(const WaitingLogLines&) = delete;

    // Keeps `before`, `text` and `after` as one line. False, and nothing
    // kept, when it does not fit beside those that wait.
    bool append(std::string_view before, std::string_view text, std::string_view after);
    void clear();

    // Async-signal-safe: the lines appended whole so far.
    std::size_t count() const noexcept { return m_count.load(std::memory_order_acquire); }
    const iovec* lines() const noexcept { return m_lines.data(); }

private:
    std::array<char, kBytes> m_bytes {};
    std::array<iovec, kMostLines> m_lines {};
    std::size_t m_usedBytes { 0 };
    std::atomic<std::size_t> m_count { 0 };
};

} // namespace platform
