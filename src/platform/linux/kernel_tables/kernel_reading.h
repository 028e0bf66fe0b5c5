#pragma once

// What a read of a kernel table gives: the value, or the errno that says why
// there is none. A process that has gone, one we may not look at and a read
// that failed for another reason are different answers, and a caller that
// decides on evidence must not take one for another.

#include <cerrno>
#include <utility>
#include <variant>

namespace platform::procfs {

template<typename T>
class [[nodiscard]] Reading {
public:
    Reading(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    {
    }
    // `error` is an errno value; 0 (a read that gave no reason) counts as EIO.
    static Reading failedWith(int error) { return Reading(Failed {}, error != 0 ? error : EIO); }
    // From the errno the call that failed has just left.
    static Reading failedNow() { return failedWith(errno); }

    bool succeeded() const { return m_state.index() == 0; }
    explicit operator bool() const { return succeeded(); }
    const T& value() const& { return std::get<0>(m_state); }
    T& value() & { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    const T& operator*() const& { return value(); }
    T& operator*() & { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    const T* operator->() const { return &value(); }

    // Whether it was read, and is `expected`.
    bool holds(const T& expected) const { return succeeded() && value() == expected; }

    int error() const { return succeeded() ? 0 : std::get<1>(m_state); }
    // The process has ended: its entry names nothing now.
    bool gone() const { return error() == ENOENT || error() == ESRCH; }
    // It is there, and we may not look: another user's, or one that made
    // itself unreadable.
    bool notAllowed() const { return error() == EACCES || error() == EPERM; }

    // The same failure for a reading of another type.
    template<typename Other>
    Reading<Other> passOn() const
    {
        return Reading<Other>::failedWith(error());
    }

private:
    struct Failed {
    };
    Reading(Failed, int error)
        : m_state(std::in_place_index<1>, error)
    {
    }
    std::variant<T, int> m_state;
};

} // namespace platform::procfs
