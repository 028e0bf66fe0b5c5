#include "platform/linux/volumes/server_url.h"

#include "platform/linux/common/gobject_ptr.h"

#include <memory>

namespace platform::linux_files {
namespace {

// RFC 3986 sub-delimiters: legal as they are inside every part below.
constexpr const char* kSubDelimiters = "!$&'()*+,;=";
constexpr const char* kPathCharacters = "!$&'()*+,;=:@/";

std::string escaped(const std::string& text, const char* allowed)
{
    linux_gio::GTextPtr result(g_uri_escape_string(text.c_str(), allowed, FALSE));
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
    linux_gio::GTextPtr url(g_uri_join(G_URI_FLAGS_ENCODED, parts.scheme.c_str(), parts.user ? user.c_str() : nullptr,
        hostPart(parts.host).c_str(), parts.port.value_or(-1), escaped(path, kPathCharacters).c_str(), nullptr,
        nullptr));
    return url.get();
}

} // namespace platform::linux_files
