#include "text/text_whitespace.h"

#include <glib.h>

namespace {

// Whether a blank starts at `position`. Bytes up to `end` that are not one
// whole UTF-8 character are not: the listener passes only valid UTF-8, but
// nothing here may read past the text, whatever it holds.
bool isBlankAt(char const* position, char const* end)
{
    gunichar character = g_utf8_get_char_validated(position, end - position);
    if (character == static_cast<gunichar>(-1) || character == static_cast<gunichar>(-2))
        return false;
    return character == '\t' || g_unichar_type(character) == G_UNICODE_SPACE_SEPARATOR;
}

std::string_view dropLeadingBlanks(std::string_view text)
{
    char const* position = text.data();
    char const* const end = text.data() + text.size();
    while (position < end && isBlankAt(position, end))
        position = g_utf8_next_char(position);
    return { position, static_cast<std::size_t>(end - position) };
}

std::string_view dropTrailingBlanks(std::string_view text)
{
    char const* const begin = text.data();
    char const* end = text.data() + text.size();
    while (end > begin) {
        char const* last = g_utf8_find_prev_char(begin, end);
        if (!last || !isBlankAt(last, end))
            break;
        end = last;
    }
    return { begin, static_cast<std::size_t>(end - begin) };
}

} // namespace

std::string_view trimWhitespace(std::string_view text)
{
    return dropTrailingBlanks(dropLeadingBlanks(text));
}
