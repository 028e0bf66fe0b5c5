#include "updater/appcast.h"

#include "updater/enclosure_url.h"

#include <cctype>
#include <charconv>
#include <curl/curl.h>
#include <map>
#include <pugixml.hpp>

namespace updater {

namespace {

// Compared exactly, http and all: it names the namespace, nothing fetches it.
constexpr std::string_view kSparkleNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";

std::string trimmed(std::string_view text)
{
    auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

std::optional<std::string> namespaceBoundTo(pugi::xml_node scope, std::string_view prefix)
{
    const std::string declaration = "xmlns:" + std::string(prefix);
    for (auto node = scope; node; node = node.parent()) {
        if (auto attribute = node.attribute(declaration.c_str()))
            return std::string(attribute.value());
    }
    return std::nullopt;
}

// Names as Sparkle knows them: whatever prefix a feed binds to Sparkle's
// namespace reads as "sparkle:"; other names stay as written, which keeps
// feeds that use "sparkle:" without declaring it working.
std::string sparkleName(std::string_view name, pugi::xml_node scope)
{
    const auto colon = name.find(':');
    if (colon == std::string_view::npos)
        return std::string(name);
    const auto prefix = name.substr(0, colon);
    if (prefix != "xmlns" && namespaceBoundTo(scope, prefix) == kSparkleNamespace)
        return "sparkle:" + std::string(name.substr(colon + 1));
    return std::string(name);
}

using Attributes = std::map<std::string, std::string>;
using Children = std::map<std::string, pugi::xml_node>;

Attributes attributesOf(pugi::xml_node element)
{
    Attributes attributes;
    for (auto attribute : element.attributes())
        attributes.emplace(sparkleName(attribute.name(), element), trimmed(attribute.value()));
    return attributes;
}

// The first child of each name; Sparkle would pick among several by
// language, which a helper without a user interface has no use for.
Children childrenOf(pugi::xml_node element)
{
    Children children;
    for (auto child : element.children()) {
        if (child.type() == pugi::node_element)
            children.emplace(sparkleName(child.name(), child), child);
    }
    return children;
}

std::optional<std::string> valueOf(const Attributes& attributes, const std::string& name)
{
    auto found = attributes.find(name);
    return found == attributes.end() ? std::nullopt : std::optional(found->second);
}

std::optional<std::string> textOf(const Children& children, const std::string& name)
{
    auto found = children.find(name);
    if (found == children.end())
        return std::nullopt;
    return trimmed(found->second.text().get());
}

template <typename Number> std::optional<Number> numberFrom(const std::optional<std::string>& text)
{
    Number value {};
    if (!text || text->empty())
        return std::nullopt;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size())
        return std::nullopt;
    return value;
}

std::optional<std::int64_t> dateFrom(const std::optional<std::string>& text)
{
    if (!text)
        return std::nullopt;
    const time_t seconds = curl_getdate(text->c_str(), nullptr);
    return seconds == -1 ? std::nullopt : std::optional<std::int64_t>(seconds);
}

// Sparkle ignores a channel name it could not pass on safely: such an item
// is on the default channel.
std::optional<std::string> channelFrom(const std::optional<std::string>& text)
{
    if (!text || text->empty())
        return std::nullopt;
    for (unsigned char c : *text) {
        if (!std::isalnum(c) && c != '.' && c != '_' && c != '-')
            return std::nullopt;
    }
    return text;
}

std::vector<std::string> informationalVersionsOf(pugi::xml_node element)
{
    std::vector<std::string> versions;
    for (auto child : element.children()) {
        const std::string name = sparkleName(child.name(), child);
        if (name == "sparkle:version")
            versions.push_back(trimmed(child.text().get()));
        else if (name == "sparkle:belowVersion")
            versions.push_back("<" + trimmed(child.text().get()));
    }
    return versions;
}

bool hasChildNamed(pugi::xml_node element, const std::string& wanted)
{
    for (auto child : element.children()) {
        if (child.type() == pugi::node_element && sparkleName(child.name(), child) == wanted)
            return true;
    }
    return false;
}

void readCriticalMark(const Children& children, AppcastItem& item)
{
    if (auto critical = children.find("sparkle:criticalUpdate"); critical != children.end()) {
        item.hasCriticalMark = true;
        item.criticalBelow = valueOf(attributesOf(critical->second), "sparkle:version");
    } else if (auto tags = children.find("sparkle:tags"); tags != children.end()) {
        item.hasCriticalMark = hasChildNamed(tags->second, "sparkle:criticalUpdate");
    }
}

void readEnclosure(pugi::xml_node enclosure, std::string_view feedURL, AppcastItem& item)
{
    const auto attributes = attributesOf(enclosure);
    if (auto url = valueOf(attributes, "url"))
        item.url = resolveEnclosureURL(*url, feedURL);
    item.length = numberFrom<std::uint64_t>(valueOf(attributes, "length"));
    item.edSignature = valueOf(attributes, "sparkle:edSignature");
    item.os = valueOf(attributes, "sparkle:os");
    item.isDelta = attributes.contains("sparkle:deltaFrom");
    // Sparkle reads the enclosure's attributes before the item's elements.
    if (auto version = valueOf(attributes, "sparkle:version"); version && !version->empty())
        item.version = *version;
    if (auto shortVersion = valueOf(attributes, "sparkle:shortVersionString"); shortVersion && !shortVersion->empty())
        item.shortVersion = *shortVersion;
}

std::optional<AppcastItem> itemFrom(pugi::xml_node node, std::string_view feedURL)
{
    const auto children = childrenOf(node);
    AppcastItem item;
    auto enclosure = children.find("enclosure");
    if (enclosure != children.end())
        readEnclosure(enclosure->second, feedURL, item);
    if (item.version.empty())
        item.version = textOf(children, "sparkle:version").value_or("");
    if (item.version.empty())
        return std::nullopt;
    if (item.shortVersion.empty())
        item.shortVersion = textOf(children, "sparkle:shortVersionString").value_or(item.version);
    item.channel = channelFrom(textOf(children, "sparkle:channel"));
    if (enclosure == children.end())
        item.informationalFor = std::vector<std::string> {};
    else if (auto informational = children.find("sparkle:informationalUpdate"); informational != children.end())
        item.informationalFor = informationalVersionsOf(informational->second);
    item.minimumAutoupdateVersion = textOf(children, "sparkle:minimumAutoupdateVersion");
    item.phasedRolloutInterval = numberFrom<std::int64_t>(textOf(children, "sparkle:phasedRolloutInterval"));
    item.publishedAt = dateFrom(textOf(children, "pubDate"));
    readCriticalMark(children, item);
    return item;
}

AppcastReading refused(std::string why) { return { std::nullopt, std::move(why) }; }

} // namespace

AppcastReading readAppcast(std::string_view xml, std::string_view feedURL)
{
    pugi::xml_document document;
    // No DOCTYPE expansion in pugixml, so entity tricks cannot blow up.
    if (!document.load_buffer(xml.data(), xml.size(), pugi::parse_default))
        return refused("the update feed is not XML");
    auto channel = document.child("rss").child("channel");
    if (!channel)
        return refused("the update feed is not an appcast");
    const bool fetchedFromTheWeb = isWebURL(feedURL);
    std::vector<AppcastItem> items;
    for (auto node : channel.children("item")) {
        auto item = itemFrom(node, feedURL);
        if (!item)
            continue;
        if (fetchedFromTheWeb && !item->url.empty() && !isWebURL(item->url))
            return refused("the update feed points at " + item->url + ", not at an http(s) URL: feed refused");
        items.push_back(std::move(*item));
    }
    return { std::move(items), {} };
}

} // namespace updater
