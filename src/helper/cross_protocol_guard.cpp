#include "helper/cross_protocol_guard.h"

#include <algorithm>

namespace {

std::string_view firstLine(std::string_view text)
{
    return text.substr(0, text.find_first_of("\r\n"));
}

// RFC 9110 token characters, the alphabet of methods and header names.
bool isTokenCharacter(char character)
{
    if ((character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z')
        || (character >= '0' && character <= '9'))
        return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(character) != std::string_view::npos;
}

// Methods are tokens too, but every method a browser sends is in capitals,
// and no command word of ours is, so a quoted path that happens to hold
// " HTTP/" after its first blank is never mistaken for a request.
bool isMethod(std::string_view word)
{
    return !word.empty()
        && std::all_of(word.begin(), word.end(), [](char c) { return (c >= 'A' && c <= 'Z') || c == '-' || c == '_'; });
}

bool isRequestLine(std::string_view line)
{
    auto methodEnd = line.find(' ');
    if (methodEnd == std::string_view::npos || !isMethod(line.substr(0, methodEnd)))
        return false;
    auto targetStart = methodEnd + 1;
    auto targetEnd = line.find(' ', targetStart);
    if (targetEnd == std::string_view::npos || targetEnd == targetStart)
        return false;
    return line.substr(targetEnd + 1).starts_with("HTTP/");
}

bool isHeaderName(std::string_view word)
{
    return word.size() >= 2 && word.back() == ':'
        && std::all_of(word.begin(), word.end() - 1, isTokenCharacter);
}

} // namespace

bool looksLikeHttp(std::string_view commandLine)
{
    auto line = firstLine(commandLine);
    return isRequestLine(line) || isHeaderName(line.substr(0, line.find(' ')));
}
