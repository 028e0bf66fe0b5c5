#include "updater/appcast.h"

#include "updater/version_order.h"

#include <charconv>
#include <pugixml.hpp>

namespace updater {

namespace {

std::string trimmed(std::string_view text)
{
    auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

std::optional<std::uint64_t> lengthFrom(const pugi::xml_attribute& attribute)
{
    std::string text = trimmed(attribute.value());
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<std::string> attributeText(const pugi::xml_node& node, const char* name)
{
    auto attribute = node.attribute(name);
    if (!attribute)
        return std::nullopt;
    return trimmed(attribute.value());
}

std::optional<AppcastItem> itemFrom(const pugi::xml_node& item)
{
    auto enclosure = item.child("enclosure");
    if (!enclosure)
        return std::nullopt;
    AppcastItem result;
    result.version = trimmed(item.child_value("sparkle:version"));
    if (result.version.empty())
        result.version = attributeText(enclosure, "sparkle:version").value_or("");
    result.shortVersion = trimmed(item.child_value("sparkle:shortVersionString"));
    if (result.shortVersion.empty())
        result.shortVersion = attributeText(enclosure, "sparkle:shortVersionString").value_or(result.version);
    result.url = attributeText(enclosure, "url").value_or("");
    result.length = lengthFrom(enclosure.attribute("length"));
    result.edSignature = attributeText(enclosure, "sparkle:edSignature");
    if (result.version.empty() || result.url.empty())
        return std::nullopt;
    return result;
}

} // namespace

std::optional<std::vector<AppcastItem>> parseAppcast(std::string_view xml)
{
    pugi::xml_document document;
    // No DOCTYPE expansion in pugixml, so entity tricks cannot blow up.
    if (!document.load_buffer(xml.data(), xml.size(), pugi::parse_default))
        return std::nullopt;
    auto channel = document.child("rss").child("channel");
    if (!channel)
        return std::nullopt;
    std::vector<AppcastItem> items;
    for (auto node : channel.children("item")) {
        if (auto item = itemFrom(node))
            items.push_back(std::move(*item));
    }
    return items;
}

std::optional<AppcastItem> newestItemNewerThan(const std::vector<AppcastItem>& items, std::string_view runningVersion)
{
    const AppcastItem* newest = nullptr;
    for (auto const& item : items) {
        if (!isNewerVersion(item.version, runningVersion))
            continue;
        if (!newest || isNewerVersion(item.version, newest->version))
            newest = &item;
    }
    if (!newest)
        return std::nullopt;
    return *newest;
}

} // namespace updater
