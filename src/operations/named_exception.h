#pragma once

#include <stdexcept>
#include <string>

// A failure that carries a name and a reason, as the command service's
// callers expect to read them; what() gives "name: reason".
class NamedException : public std::runtime_error {
public:
    NamedException(std::string name, std::string reason)
        : std::runtime_error(name + ": " + reason)
        , m_name(std::move(name))
        , m_reason(std::move(reason))
    {
    }

    const std::string& name() const { return m_name; }
    const std::string& reason() const { return m_reason; }

private:
    std::string m_name;
    std::string m_reason;
};
