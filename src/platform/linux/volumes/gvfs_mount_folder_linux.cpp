#include "platform/linux/common/gobject_ptr.h"
#include "platform/linux/volumes/gvfs_mount_folder.h"
#include "platform/linux/volumes/server_url.h"

#include <glib.h>

#include <charconv>
#include <map>
#include <memory>
#include <string_view>

namespace platform::linux_files {
namespace {

struct GVfsMountName {
    std::string type;
    std::map<std::string, std::string, std::less<>> items;

    std::optional<std::string> item(std::string_view key) const
    {
        auto found = items.find(key);
        if (found == items.end() || found->second.empty())
            return std::nullopt;
        return found->second;
    }
    std::string itemOr(std::string_view key, std::string fallback) const { return item(key).value_or(std::move(fallback)); }

    std::optional<int> port() const
    {
        auto text = item("port");
        int value = 0;
        if (!text || std::from_chars(text->data(), text->data() + text->size(), value).ec != std::errc()
            || value <= 0 || value > 65535)
            return std::nullopt;
        return value;
    }
};

std::optional<std::string> percentDecoded(std::string_view text)
{
    linux_gio::GTextPtr decoded(g_uri_unescape_segment(text.data(), text.data() + text.size(), nullptr));
    if (!decoded)
        return std::nullopt;
    return std::string(decoded.get());
}

std::optional<GVfsMountName> parseMountName(std::string_view name)
{
    auto colon = name.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return std::nullopt;
    GVfsMountName mountName { std::string(name.substr(0, colon)), {} };
    std::string_view rest = name.substr(colon + 1);
    while (!rest.empty()) {
        auto comma = rest.find(',');
        auto item = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        auto equals = item.find('=');
        if (equals == std::string_view::npos)
            return std::nullopt;
        auto value = percentDecoded(item.substr(equals + 1));
        if (!value)
            return std::nullopt;
        mountName.items.emplace(std::string(item.substr(0, equals)), std::move(*value));
    }
    return mountName;
}

std::optional<std::string> smbShareURL(const GVfsMountName& mount)
{
    auto server = mount.item("server");
    auto share = mount.item("share");
    if (!server || !share)
        return std::nullopt;
    std::optional<std::string> user = mount.item("user");
    if (user && mount.item("domain"))
        user = *mount.item("domain") + ";" + *user;
    return serverURL({ "smb", user, *server, mount.port(), "/" + *share + mount.itemOr("prefix", "") });
}

// Every other type GVfs writes as type://[user@]host[:port]/prefix; WebDAV
// over TLS is "davs".
std::optional<std::string> hostURL(const GVfsMountName& mount)
{
    auto host = mount.item("host");
    if (!host)
        return std::nullopt;
    std::string scheme = mount.type;
    if (scheme == "dav" && mount.item("ssl") == "true")
        scheme = "davs";
    std::string path = mount.itemOr("prefix", "/");
    if (mount.type == "afp-volume") {
        scheme = "afp";
        auto volume = mount.item("volume");
        if (!volume)
            return std::nullopt;
        path = "/" + *volume;
    }
    return serverURL({ scheme, mount.item("user"), *host, mount.port(), path });
}

} // namespace

std::optional<std::string> urlOfGVfsMountFolder(const std::string& name)
{
    auto mount = parseMountName(name);
    if (!mount)
        return std::nullopt;
    if (mount->type == "smb-share")
        return smbShareURL(*mount);
    if (mount->type == "smb-server") {
        auto server = mount->item("server");
        return server ? std::optional(serverURL({ "smb", std::nullopt, *server, mount->port(), "/" })) : std::nullopt;
    }
    return hostURL(*mount);
}

} // namespace platform::linux_files
