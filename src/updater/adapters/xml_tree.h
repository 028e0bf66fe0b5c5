#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace updater {

// An XML element as written: names keep their prefixes, attributes and
// child elements keep their order, and the namespaces they name are left
// to the reader.
struct XmlElement {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<XmlElement> children;
    // The element's first run of character data (text or CDATA), escapes
    // replaced; empty when it has none.
    std::string text;
};

// The document's elements at the top level; nothing when the text is not
// well-formed XML with a root element. Document types are not expanded, so
// entity tricks cannot blow the tree up; elements nested more than 32
// deep are left out.
std::optional<std::vector<XmlElement>> readXmlTree(std::string_view xml);

} // namespace updater
