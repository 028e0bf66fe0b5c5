#include "platform/linux/sandbox/sandbox_groups.h"

namespace platform::sandbox {

namespace {

bool allOf(std::string_view text, std::string_view characters)
{
    return !text.empty() && text.find_first_not_of(characters) == std::string_view::npos;
}

constexpr std::string_view kDigits = "0123456789";
constexpr std::string_view kSnapNameCharacters = "abcdefghijklmnopqrstuvwxyz0123456789-";
constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_";
constexpr std::size_t kMostApplicationIdBytes = 255;

// One dot-separated element of an id: a letter or underscore first, then
// letters, digits, underscores, and dashes only in the last element.
bool isIdElement(std::string_view element, bool last)
{
    if (element.empty() || kLetters.find(element.front()) == std::string_view::npos)
        return false;
    for (char c : element) {
        const bool allowed = kLetters.find(c) != std::string_view::npos || kDigits.find(c) != std::string_view::npos || (last && c == '-');
        if (!allowed)
            return false;
    }
    return true;
}

// "app-flatpak-APPID-PID.scope"; the id may hold dashes, the PID cannot.
std::optional<GroupSandbox> flatpakScope(std::string_view name)
{
    constexpr std::string_view kPrefix = "app-flatpak-";
    constexpr std::string_view kSuffix = ".scope";
    if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix))
        return std::nullopt;
    name = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    const auto dash = name.rfind('-');
    if (dash == std::string_view::npos || !allOf(name.substr(dash + 1), kDigits))
        return std::nullopt;
    const auto id = name.substr(0, dash);
    if (!isFlatpakApplicationId(id))
        return std::nullopt;
    return GroupSandbox { GroupSandbox::Kind::flatpak, std::string(id) };
}

// "snap.NAME.APP-….scope", "snap.NAME.APP.service", or in older layouts
// "snap.NAME.APP".
std::optional<GroupSandbox> snapGroup(std::string_view name)
{
    constexpr std::string_view kPrefix = "snap.";
    if (!name.starts_with(kPrefix))
        return std::nullopt;
    name.remove_prefix(kPrefix.size());
    const auto dot = name.find('.');
    if (dot == std::string_view::npos || !allOf(name.substr(0, dot), kSnapNameCharacters))
        return std::nullopt;
    return GroupSandbox { GroupSandbox::Kind::snap, std::string(name.substr(0, dot)) };
}

} // namespace

bool isFlatpakApplicationId(std::string_view id)
{
    if (id.size() > kMostApplicationIdBytes)
        return false;
    std::size_t dots = 0;
    for (std::size_t start = 0;; ++dots) {
        const auto dot = id.find('.', start);
        const bool last = dot == std::string_view::npos;
        if (!isIdElement(id.substr(start, last ? std::string_view::npos : dot - start), last))
            return false;
        if (last)
            break;
        start = dot + 1;
    }
    return dots >= 2;
}

std::optional<GroupSandbox> sandboxOfGroup(std::string_view groupPath)
{
    const auto slash = groupPath.rfind('/');
    const auto name = slash == std::string_view::npos ? groupPath : groupPath.substr(slash + 1);
    if (auto flatpak = flatpakScope(name))
        return flatpak;
    return snapGroup(name);
}

} // namespace platform::sandbox
