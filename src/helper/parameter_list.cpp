#include "helper/parameter_list.h"

#include "helper/text_whitespace.h"

#include <limits>

std::int32_t leadingDecimalValue(std::string_view text)
{
    bool negative = false;
    std::size_t position = 0;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
        negative = text[position] == '-';
        ++position;
    }
    // Accumulate as a negative number: its range holds INT32_MIN exactly.
    constexpr std::int64_t lowest = std::numeric_limits<std::int32_t>::min();
    std::int64_t value = 0;
    for (; position < text.size() && text[position] >= '0' && text[position] <= '9'; ++position) {
        value = value * 10 - (text[position] - '0');
        if (value < lowest)
            value = lowest;
    }
    if (negative)
        return static_cast<std::int32_t>(value);
    return static_cast<std::int32_t>(value == lowest ? std::numeric_limits<std::int32_t>::max() : -value);
}

ParameterList::ParameterList(std::vector<Parameter> elements)
    : m_elements(std::move(elements))
{
}

std::optional<Parameter> ParameterList::element(std::size_t position) const
{
    if (position >= m_elements.size())
        return std::nullopt;
    return m_elements[position];
}

std::optional<std::int32_t> ParameterList::integerValue(std::size_t position) const
{
    if (position >= m_elements.size())
        return std::nullopt;
    if (auto const* integer = std::get_if<std::int32_t>(&m_elements[position]))
        return *integer;
    return leadingDecimalValue(trimWhitespace(std::get<std::string>(m_elements[position])));
}

std::string ParameterList::description() const
{
    std::string text = "(";
    for (std::size_t i = 0; i < m_elements.size(); ++i) {
        if (i > 0)
            text += ", ";
        if (auto const* integer = std::get_if<std::int32_t>(&m_elements[i]))
            text += "integer " + std::to_string(*integer);
        else
            text += "text \"" + std::get<std::string>(m_elements[i]) + "\"";
    }
    return text + ")";
}
