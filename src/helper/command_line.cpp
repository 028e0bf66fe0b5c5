#include "helper/command_line.h"

#include "helper/text_whitespace.h"

namespace {

std::string_view withoutTrailingLineBreaks(std::string_view line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

std::vector<Parameter> parseParameterText(std::string_view text)
{
    std::vector<Parameter> elements;
    for (;;) {
        auto comma = text.find(',');
        elements.push_back(parseParameterPiece(text.substr(0, comma)));
        if (comma == std::string_view::npos)
            return elements;
        text.remove_prefix(comma + 1);
    }
}

} // namespace

Parameter parseParameterPiece(std::string_view piece)
{
    auto trimmed = trimWhitespace(piece);
    // A lone quote both begins and ends with '"' but encloses nothing; like
    // any other unquoted piece it becomes an integer.
    bool quoted = trimmed.size() >= 2 && trimmed.front() == '"' && trimmed.back() == '"';
    if (quoted)
        return std::string(trimmed.substr(1, trimmed.size() - 2));
    return leadingDecimalValue(trimmed);
}

ParsedCommand parseCommandLine(std::string_view line)
{
    line = withoutTrailingLineBreaks(line);
    auto blank = line.find(' ');
    if (blank == std::string_view::npos)
        return { std::string(line), ParameterList() };
    return { std::string(line.substr(0, blank)), ParameterList(parseParameterText(line.substr(blank + 1))) };
}
