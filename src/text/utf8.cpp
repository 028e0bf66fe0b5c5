#include "text/utf8.h"

#include <glib.h>

bool isValidUtf8(std::string_view text)
{
    return g_utf8_validate_len(text.data(), text.size(), nullptr);
}
