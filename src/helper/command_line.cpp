#include "helper/command_line.h"

#include "text/text_whitespace.h"

#include <algorithm>
#include <vector>

namespace {

std::string_view withoutTrailingLineBreaks(std::string_view line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

std::vector<std::string_view> piecesBetweenCommas(std::string_view text)
{
    std::vector<std::string_view> pieces;
    for (;;) {
        auto comma = text.find(',');
        pieces.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos)
            return pieces;
        text.remove_prefix(comma + 1);
    }
}

bool opensQuote(std::string_view piece)
{
    auto trimmed = trimWhitespace(piece);
    return trimmed.size() >= 2 && trimmed.front() == '"' && trimmed.back() != '"';
}

bool closesQuote(std::string_view piece)
{
    auto trimmed = trimWhitespace(piece);
    return !trimmed.empty() && trimmed.back() == '"';
}

// File names hold commas ("Report, final.pdf", GVfs folders such as
// "smb-share:server=s,share=d"), so a quote opened in one piece runs on to
// the piece that closes it, commas and all. A quote that nothing closes
// leaves the pieces as they were.
std::vector<Parameter> parseParameterText(std::string_view text)
{
    auto pieces = piecesBetweenCommas(text);
    std::vector<Parameter> elements;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        std::size_t last = i;
        if (opensQuote(pieces[i])) {
            auto closing = std::find_if(pieces.begin() + i + 1, pieces.end(), closesQuote);
            if (closing != pieces.end())
                last = static_cast<std::size_t>(closing - pieces.begin());
        }
        auto begin = pieces[i].data();
        auto end = pieces[last].data() + pieces[last].size();
        elements.push_back(parseParameterPiece(std::string_view(begin, static_cast<std::size_t>(end - begin))));
        i = last;
    }
    return elements;
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
