#include "platform/linux/server_url.h"

#include <glib.h>

#include <memory>

namespace platform::linux_files {
namespace {

using GlibText = std::unique_ptr<char, decltype(&g_free)>;

// RFC 3986 sub-delimiters: legal as they are inside every part below.
constexpr const char* kSubDelimiters = "!$&'()*+,;=";
constexpr const char* kPathCharacters = "!$&'()*+,;=:@/";

std::string escaped(const std::string& text, const char* allowed)
{
    GlibText result(g_uri_escape_string(text.c_str(), allowed, FALSE), &g_free);
    return result.get();
}

// IPv6 literals keep their colons; GLib adds the brackets.
std::string hostPart(std::string host)
{
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.find(':') != std::string::npos)
        return host;
    return escaped(host, kSubDelimiters);
}

} // namespace

std::string serverURL(const ServerURLParts& parts)
{
    std::string path = parts.path.starts_with('/') ? parts.path : "/" + parts.path;
    std::string user = parts.user ? escaped(*parts.user, kSubDelimiters) : std::string();
    GlibText url(g_uri_join(G_URI_FLAGS_ENCODED, parts.scheme.c_str(), parts.user ? user.c_str() : nullptr,
                    hostPart(parts.host).c_str(), parts.port.value_or(-1), escaped(path, kPathCharacters).c_str(), nullptr,
                    nullptr),
        &g_free);
    return url.get();
}

std::optional<std::string> fileURL(const std::string& path)
{
    GlibText url(g_filename_to_uri(path.c_str(), nullptr, nullptr), &g_free);
    if (!url)
        return std::nullopt;
    return std::string(url.get());
}

} // namespace platform::linux_files
