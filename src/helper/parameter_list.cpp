#include "helper/parameter_list.h"

#include "text/text_whitespace.h"

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
