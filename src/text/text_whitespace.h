#pragma once

#include <string_view>

// Removes blanks at both ends of UTF-8 text. A blank is the tab or any
// character of Unicode category Zs (space separators); line breaks are not
// blanks.
std::string_view trimWhitespace(std::string_view text);
