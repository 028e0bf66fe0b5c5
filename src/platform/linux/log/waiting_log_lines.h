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
//
// Each line is sent once: by the writer, which takes all that wait before
// it sends them, or by a signal handler, which takes over what the writer
// has not taken. Lines are numbered from the start for that, so that a
// number never means two lines.
//
// A handler copies the lines under a sequence lock: the writer makes the
// generation odd before it clears the lines and even again after, and a
// copy counts only when it read one even generation before and after. No
// fences (GCC's ThreadSanitizer cannot take them): instead every store
// made after the odd generation is a release store and every read of a
// copy an acquire load, so that a copy that read anything written from
// there on synchronises with it, and its second read of the generation
// sees the odd one or a later.
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
    // Takes every line that waits, to send it. False when a signal handler
    // has taken them over: the process is ending, and the handler sends.
    bool takeForSending() noexcept;
    // Once the lines taken have been sent.
    void sentAndCleared() noexcept;
    const iovec* lines() const noexcept { return m_lines.data(); }

    // Any thread.
    std::size_t count() const noexcept { return m_count.load(std::memory_order_acquire); }

    // Async-signal-safe, from any thread.
    // Keeps the writer from taking more lines. Returns the number of the
    // first line it has not taken.
    std::uint64_t takeOver() noexcept;
    // The number of the first line the writer has not sent. Below the one
    // takeOver() gave while the writer still sends what it took.
    std::uint64_t sentUpTo() const noexcept { return m_sent.load(std::memory_order_acquire); }
    // Copies the lines appended whole so far, from line `first` on, into
    // `copy`; lines the writer has sent and cleared since are left out.
    // False when the writer was clearing meanwhile, so that the copy may
    // hold lines written over; then trying again later gives the lines
    // that replaced them.
    bool copyFrom(std::uint64_t first, Copy& copy) const noexcept;

private:
    static constexpr std::uint64_t kTakenOver = std::uint64_t { 1 } << 63;

    // What a copy reads while the writer may be writing over it, reached
    // through atomics only.
    std::array<char, kBytes> m_bytes {};
    std::array<std::atomic<std::size_t>, kMostLines> m_ends {};
    // Odd while the lines are cleared; each clearing adds two.
    std::atomic<std::uint64_t> m_generation { 0 };
    std::atomic<std::size_t> m_count { 0 };
    // The number of the line that waits first.
    std::atomic<std::uint64_t> m_firstNumber { 0 };
    // Lines taken to be sent, with kTakenOver once a handler has them.
    std::atomic<std::uint64_t> m_taken { 0 };
    std::atomic<std::uint64_t> m_sent { 0 };

    // The writer's own.
    std::array<iovec, kMostLines> m_lines {};
    std::size_t m_usedBytes { 0 };

    // A lock inside an atomic could be held by the thread a handler
    // interrupted.
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free && std::atomic<std::size_t>::is_always_lock_free
        && std::atomic_ref<char>::is_always_lock_free);
};

} // namespace platform
