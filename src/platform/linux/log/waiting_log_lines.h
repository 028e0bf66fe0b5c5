#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <sys/uio.h>

namespace platform {

// Lines, ready to send, that wait their turn. Their storage is fixed from
// the start, so that a signal handler can copy what waits without
// allocating, and without a lock that the thread it interrupted may hold.
class WaitingLogLines {
public:
    // Some 32 commands' worth: enough to gather the lines of commands sent
    // back to back, few enough that none waits long.
    static constexpr std::size_t kMostLines = 64;
    static constexpr std::size_t kBytes = 64 * 1024;

    // Lines as they were at one moment, in storage of their own.
    struct Copy {
        std::array<char, kBytes> bytes;
        std::array<iovec, kMostLines> lines;
        std::size_t count;
    };

    WaitingLogLines() = default;
    WaitingLogLines(const WaitingLogLines&) = delete;
    WaitingLogLines& operator=(const WaitingLogLines&) = delete;

    // The writer's side, by one thread at a time.
    // Keeps `before`, `text` and `after` as one line. False, and nothing
    // kept, when it does not fit beside those that wait.
    bool append(std::string_view before, std::string_view text, std::string_view after);
    void clear();
    const iovec* lines() const noexcept { return m_lines.data(); }

    // Any thread.
    std::size_t count() const noexcept { return m_count.load(std::memory_order_acquire); }

    // Async-signal-safe, from any thread: copies the lines appended whole so
    // far into `copy`. False when a clear() came meanwhile, so that the copy
    // may hold lines written over; then trying again later gives the lines
    // that replaced them.
    bool copyInto(Copy& copy) const noexcept;

private:
    // What a copy reads while the writer may be writing over it, reached
    // through atomics only.
    std::array<char, kBytes> m_bytes {};
    std::array<std::atomic<std::size_t>, kMostLines> m_ends {};
    // Odd while a clear() is under way; each clear() adds two.
    std::atomic<std::uint64_t> m_generation { 0 };
    std::atomic<std::size_t> m_count { 0 };

    // The writer's own.
    std::array<iovec, kMostLines> m_lines {};
    std::size_t m_usedBytes { 0 };
};

} // namespace platform
