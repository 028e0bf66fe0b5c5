// A byte stream cut into reads the way a client's segments may arrive, framed
// into command lines as the connection loop does with its 2048-byte buffer.
// Every line handed on must be short enough, end in a line break, hold no
// zero byte and be valid UTF-8; the guard against HTTP must decide on any.
#include "helper/command_framing.h"
#include "helper/cross_protocol_guard.h"

#include <glib.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

constexpr std::size_t kBufferSize = 2048;

void check(std::string_view line)
{
    bool sound = !line.empty() && line.size() < kBufferSize && (line.back() == '\n' || line.back() == '\r')
        && line.find('\0') == std::string_view::npos
        && g_utf8_validate(line.data(), static_cast<gssize>(line.size()), nullptr);
    if (!sound)
        std::abort();
    (void)looksLikeHttp(line);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first byte of each step says how many of the following bytes
    // arrive in one read.
    std::string held;
    std::size_t at = 0;
    while (at < size) {
        std::size_t chunk = std::min<std::size_t>(data[at] % 64 + 1, size - at - 1);
        ++at;
        chunk = std::min(chunk, kBufferSize - 1 - held.size());
        held.append(reinterpret_cast<const char*>(data + at), chunk);
        at += chunk;
        auto framed = frameCommandLine(held);
        if (framed.framing == Framing::complete) {
            check(framed.line);
            held.clear();
        } else if (framed.framing == Framing::malformed || held.size() == kBufferSize - 1) {
            // The loop closes such a connection; a new one starts afresh.
            held.clear();
        }
    }
    return 0;
}
