#include "updater/appcast.h"

#include "updater/adapters/http_date.h"
#include "updater/adapters/xml_tree.h"
#include "updater/enclosure_url.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>

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

// An element with the ones around it, whose namespace declarations hold
// inside it. Lives on the stack of the walk down the feed.
struct Scoped {
    const XmlElement& element;
    const Scoped* outer;
};

std::optional<std::string> namespaceBoundTo(const Scoped& scope, std::string_view prefix)
{
    const std::string declaration = "xmlns:" + std::string(prefix);
    for (auto* node = &scope; node; node = node->outer) {
        const auto& attributes = node->element.attributes;
        auto found = std::find_if(attributes.begin(), attributes.end(), [&](auto& attribute) { return attribute.first == declaration; });
        if (found != attributes.end())
            return found->second;
    }
    return std::nullopt;
}

// Names as Sparkle knows them: whatever prefix a feed binds to Sparkle's
// namespace reads as "sparkle:"; other names stay as written, which keeps
// feeds that use "sparkle:" without declaring it working.
std::string sparkleName(std::string_view name, const Scoped& scope)
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
using Children = std::map<std::string, Scoped>;

Attributes attributesOf(const Scoped& element)
{
    Attributes attributes;
    for (auto& [name, value] : element.element.attributes)
        attributes.emplace(sparkleName(name, element), trimmed(value));
    return attributes;
}

// The first child of each name; Sparkle would pick among several by
// language, which a helper without a user interface has no use for.
Children childrenOf(const Scoped& element)
{
    Children children;
    for (auto& child : element.element.children) {
        const Scoped scoped { child, &element };
        children.emplace(sparkleName(child.name, scoped), scoped);
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
    return trimmed(found->second.element.text);
}

template<typename Number>
std::optional<Number> numberFrom(const std::optional<std::string>& text)
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
    return secondsSinceEpochOfDate(*text);
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

std::vector<std::string> informationalVersionsOf(const Scoped& element)
{
    std::vector<std::string> versions;
    for (auto& child : element.element.children) {
        const std::string name = sparkleName(child.name, { child, &element });
        if (name == "sparkle:version")
            versions.push_back(trimmed(child.text));
        else if (name == "sparkle:belowVersion")
            versions.push_back("<" + trimmed(child.text));
    }
    return versions;
}

bool hasChildNamed(const Scoped& element, const std::string& wanted)
{
    return std::any_of(element.element.children.begin(), element.element.children.end(),
        [&](auto& child) { return sparkleName(child.name, { child, &element }) == wanted; });
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

void readEnclosure(const Scoped& enclosure, std::string_view feedURL, AppcastItem& item)
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

std::optional<AppcastItem> itemFrom(const Scoped& node, std::string_view feedURL)
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

// By the name as written: the RSS frame of a feed has no namespace.
const XmlElement* firstNamed(const std::vector<XmlElement>& elements, std::string_view name)
{
    auto found = std::find_if(elements.begin(), elements.end(), [&](auto& element) { return element.name == name; });
    return found == elements.end() ? nullptr : &*found;
}

AppcastReading refused(std::string why) { return { std::nullopt, std::move(why) }; }

} // namespace

AppcastReading readAppcast(std::string_view xml, std::string_view feedURL)
{
    auto document = readXmlTree(xml);
    if (!document)
        return refused("the update feed is not XML");
    auto* rss = firstNamed(*document, "rss");
    auto* channel = rss ? firstNamed(rss->children, "channel") : nullptr;
    if (!channel)
        return refused("the update feed is not an appcast");
    const Scoped rssScope { *rss, nullptr };
    const Scoped channelScope { *channel, &rssScope };
    const bool fetchedFromTheWeb = isWebURL(feedURL);
    std::vector<AppcastItem> items;
    for (auto& node : channel->children) {
        if (node.name != "item")
            continue;
        auto item = itemFrom({ node, &channelScope }, feedURL);
        if (!item)
            continue;
        if (fetchedFromTheWeb && !item->url.empty() && !isWebURL(item->url))
            return refused("the update feed points at " + item->url + ", not at an http(s) URL: feed refused");
        items.push_back(std::move(*item));
    }
    return { std::move(items), {} };
}

} // namespace updater
