#include "text/text_whitespace.h"

#include <glib.h>

namespace {

bool isBlank(gunichar character)
{
    return character == '\t' || g_unichar_type(character) == G_UNICODE_SPACE_SEPARATOR;
}

// Command lines reach us validated as UTF-8, so stepping by characters is safe.
std::string_view dropLeadingBlanks(std::string_view text)
{
    char const* position = text.data();
    char const* const end = text.data() + text.size();
    while (position < end && isBlank(g_utf8_get_char(position)))
        position = g_utf8_next_char(position);
    return { position, static_cast<std::size_t>(end - position) };
}

std::string_view dropTrailingBlanks(std::string_view text)
{
    char const* const begin = text.data();
    char const* end = text.data() + text.size();
    while (end > begin) {
        char const* last = g_utf8_find_prev_char(begin, end);
        if (!last || !isBlank(g_utf8_get_char(last)))
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
