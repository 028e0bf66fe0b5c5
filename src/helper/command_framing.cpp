#include "helper/command_framing.h"

#include "text/utf8.h"

namespace {

bool endsWithTerminator(std::string_view text)
{
    return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

} // namespace

FramedLine frameCommandLine(std::string_view received)
{
    auto text = received.substr(0, received.find('\0'));
    if (endsWithTerminator(text) && isValidUtf8(text))
        return { Framing::complete, text };
    if (endsWithTerminator(text) || endsWithTerminator(received))
        return { Framing::malformed, {} };
    return { Framing::incomplete, {} };
}
