#pragma once

#include "text/leading_decimal_value.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// One parameter of a command line: a text (sent between double quotes) or a
// signed 32-bit integer (anything else).
using Parameter = std::variant<std::string, std::int32_t>;

class ParameterList {
public:
    ParameterList() = default;
    explicit ParameterList(std::vector<Parameter> elements);

    std::size_t size() const { return m_elements.size(); }
    bool operator==(const ParameterList&) const = default;

    // Every access answers nothing for a position the list does not have,
    // so a short list can never reach an operation.
    std::optional<Parameter> element(std::size_t position) const;
    // Of an integer its value, of a text its leading decimal value.
    std::optional<std::int32_t> integerValue(std::size_t position) const;

    // For the log: every element with its kind, e.g. (text "a b", integer 5).
    std::string description() const;

private:
    std::vector<Parameter> m_elements;
};
