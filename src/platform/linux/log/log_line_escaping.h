#pragma once

#include <string>
#include <string_view>

namespace platform {

// Log lines carry text from clients. Escaping control characters keeps one
// write one line, so a client cannot forge log lines or send terminal
// escape sequences to whoever reads the log. \n and \r become "\n" and "\r",
// other control characters "\xNN"; everything else, UTF-8 included, is kept.
std::string escapeControlCharacters(std::string_view line);
// Whether escapeControlCharacters would change the line; most lines need
// no copy.
bool hasControlCharacters(std::string_view line);

} // namespace platform
