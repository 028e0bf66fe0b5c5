#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace support {

// Why a step failed, in words for the log.
struct Failure {
    std::string reason;
};

inline Failure failure(std::string reason) { return Failure { std::move(reason) }; }

// A value, or the reason there is none: what std::expected<T, std::string>
// gives in C++23. Steps that can fail return one, and the caller either
// takes the value or passes the reason on.
template<typename T>
class [[nodiscard]] Outcome {
public:
    Outcome(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    {
    }
    Outcome(Failure failed)
        : m_state(std::in_place_index<1>, std::move(failed.reason))
    {
    }

    bool succeeded() const { return m_state.index() == 0; }
    explicit operator bool() const { return succeeded(); }

    T& value() & { return std::get<0>(m_state); }
    const T& value() const& { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    // Empty when it succeeded.
    const std::string& failure() const
    {
        static const std::string kNone;
        return succeeded() ? kNone : std::get<1>(m_state);
    }
    // The same failure for a caller whose outcome holds another type.
    Failure passOn() const { return Failure { failure() }; }

private:
    std::variant<T, std::string> m_state;
};

// For a step that yields nothing but success.
struct Done {
};

template<>
class [[nodiscard]] Outcome<void> : public Outcome<Done> {
public:
    using Outcome<Done>::Outcome;
    Outcome()
        : Outcome<Done>(Done {})
    {
    }
};

} // namespace support
