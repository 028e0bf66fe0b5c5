#include "updater/adapters/xml_tree.h"

#include <pugixml.hpp>

namespace updater {

namespace {

// Elements nested deeper are left out: the tree is built and freed by
// recursion, and a hostile document must not exhaust the stack with it.
constexpr unsigned kMaxDepth = 32;

XmlElement elementFrom(pugi::xml_node node, unsigned depth)
{
    XmlElement element { node.name(), {}, {}, node.text().get() };
    for (auto attribute : node.attributes())
        element.attributes.emplace_back(attribute.name(), attribute.value());
    if (depth == kMaxDepth)
        return element;
    for (auto child : node.children()) {
        if (child.type() == pugi::node_element)
            element.children.push_back(elementFrom(child, depth + 1));
    }
    return element;
}

} // namespace

std::optional<std::vector<XmlElement>> readXmlTree(std::string_view xml)
{
    pugi::xml_document document;
    if (!document.load_buffer(xml.data(), xml.size(), pugi::parse_default))
        return std::nullopt;
    return elementFrom(document, 0).children;
}

} // namespace updater
