#include "helper/command_framing.h"

#include <glib.h>

namespace {

bool endsWithTerminator(std::string_view text)
{
    return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

} // namespace

std::optional<std::string_view> completeCommandLine(std::string_view received)
{
    auto text = received.substr(0, received.find('\0'));
    if (endsWithTerminator(text) && g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        return text;
    return std::nullopt;
}
