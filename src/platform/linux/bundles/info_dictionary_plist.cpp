#include "platform/bundle.h"
#include "support/owned_by.h"

#include <plist/plist.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <utility>

namespace platform {

InfoDictionary::InfoDictionary(std::map<std::string, InfoValue, std::less<>> entries)
    : m_entries(std::move(entries))
{
}

std::optional<std::string> InfoDictionary::string(std::string_view key) const
{
    const auto found = m_entries.find(key);
    if (found == m_entries.end())
        return std::nullopt;
    if (const auto* text = std::get_if<std::string>(&found->second))
        return *text;
    return std::nullopt;
}

std::optional<std::int64_t> InfoDictionary::integer(std::string_view key) const
{
    const auto found = m_entries.find(key);
    if (found == m_entries.end())
        return std::nullopt;
    if (const auto* number = std::get_if<std::int64_t>(&found->second))
        return *number;
    return std::nullopt;
}

std::optional<std::vector<std::string>> InfoDictionary::strings(std::string_view key) const
{
    const auto found = m_entries.find(key);
    if (found == m_entries.end())
        return std::nullopt;
    if (const auto* texts = std::get_if<std::vector<std::string>>(&found->second))
        return *texts;
    return std::nullopt;
}

bool InfoDictionary::contains(std::string_view key) const
{
    return m_entries.find(key) != m_entries.end();
}

namespace {

// Bundle information is a few kilobytes; the bound keeps a stray huge file
// (we also read the Info.plist of other programs' bundles) from costing us
// its size in memory.
constexpr std::streamsize kMaximumPlistSize = 16 * 1024 * 1024;

using PlistPointer = support::OwnedBy<void, plist_free>;
using MallocText = support::OwnedBy<char, std::free>;

std::optional<std::string> readSmallFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::string contents;
    char buffer[8192];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        contents.append(buffer, static_cast<std::size_t>(file.gcount()));
        if (static_cast<std::streamsize>(contents.size()) > kMaximumPlistSize)
            return std::nullopt;
    }
    if (file.bad())
        return std::nullopt;
    return contents;
}

std::optional<std::string> textValue(plist_t node)
{
    if (plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    char* raw = nullptr;
    plist_get_string_val(node, &raw);
    const MallocText text(raw);
    return text ? std::optional(std::string(text.get())) : std::nullopt;
}

std::optional<InfoValue> scalarValue(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
        auto text = textValue(node);
        return text ? std::optional<InfoValue>(std::move(*text)) : std::nullopt;
    }
    case PLIST_UINT: {
        // libplist keeps negative integers as their two's complement.
        std::uint64_t number = 0;
        plist_get_uint_val(node, &number);
        return InfoValue(static_cast<std::int64_t>(number));
    }
    case PLIST_REAL: {
        double number = 0;
        plist_get_real_val(node, &number);
        return InfoValue(number);
    }
    case PLIST_BOOLEAN: {
        std::uint8_t flag = 0;
        plist_get_bool_val(node, &flag);
        return InfoValue(flag != 0);
    }
    default:
        return std::nullopt;
    }
}

// An array is kept only when every element is a text: a list that mixes in
// other values was not written for us.
std::optional<InfoValue> textArrayValue(plist_t array)
{
    std::vector<std::string> texts;
    const auto count = plist_array_get_size(array);
    for (std::uint32_t index = 0; index < count; ++index) {
        auto text = textValue(plist_array_get_item(array, index));
        if (!text)
            return std::nullopt;
        texts.push_back(std::move(*text));
    }
    return InfoValue(std::move(texts));
}

std::optional<InfoValue> entryValue(plist_t node)
{
    return plist_get_node_type(node) == PLIST_ARRAY ? textArrayValue(node) : scalarValue(node);
}

// libplist keeps a text with a zero byte inside (a raw one in XML, U+0000 in
// a binary plist's UTF-16) and then aborts the whole process when the text or
// key is read. Its XML writer copies such texts whole, so the written form
// shows whether there is one. No real bundle has such a text.
bool holdsTextWithZeroByte(plist_t root)
{
    char* rawXml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root, &rawXml, &length);
    const MallocText xml(rawXml);
    return !xml || std::string_view(xml.get(), length).find('\0') != std::string_view::npos;
}

InfoDictionary readableEntries(plist_t dictionary)
{
    std::map<std::string, InfoValue, std::less<>> entries;
    plist_dict_iter rawIterator = nullptr;
    plist_dict_new_iter(dictionary, &rawIterator);
    const support::OwnedBy<void, std::free> iterator(rawIterator);
    for (;;) {
        char* rawKey = nullptr;
        plist_t node = nullptr;
        plist_dict_next_item(dictionary, rawIterator, &rawKey, &node);
        const MallocText key(rawKey);
        if (!node)
            break;
        if (auto value = entryValue(node); key && value)
            entries.insert_or_assign(key.get(), std::move(*value));
    }
    return InfoDictionary(std::move(entries));
}

} // namespace

std::optional<InfoDictionary> readInfoDictionary(const std::string& plistPath)
{
    const auto contents = readSmallFile(plistPath);
    if (!contents || contents->empty())
        return std::nullopt;
    plist_t rawRoot = nullptr;
    const auto size = static_cast<std::uint32_t>(contents->size());
#if FERROWIND_LIBPLIST_VERSION >= 20600
    // Which of its formats the file was in does not matter here.
    plist_from_memory(contents->data(), size, &rawRoot, nullptr);
#else
    plist_from_memory(contents->data(), size, &rawRoot);
#endif
    const PlistPointer root(rawRoot);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT || holdsTextWithZeroByte(root.get()))
        return std::nullopt;
    return readableEntries(root.get());
}

} // namespace platform
