#include "platform/bundle.h"

#include <utility>

namespace platform {

namespace {

// Splits off the last path component: "a/b/c" -> {"a/b", "c"}. Nothing when
// no separator is left.
std::optional<std::pair<std::string_view, std::string_view>> splitLast(std::string_view path)
{
    const auto separator = path.rfind('/');
    if (separator == std::string_view::npos)
        return std::nullopt;
    return std::pair {path.substr(0, separator), path.substr(separator + 1)};
}

} // namespace

std::optional<std::string> enclosingBundlePath(std::string_view executablePath)
{
    const auto executable = splitLast(executablePath);
    if (!executable || executable->second.empty())
        return std::nullopt;
    const auto macOS = splitLast(executable->first);
    if (!macOS || macOS->second != "MacOS")
        return std::nullopt;
    const auto contents = splitLast(macOS->first);
    if (!contents || contents->second != "Contents")
        return std::nullopt;
    const std::string_view bundle = contents->first;
    if (!bundle.ends_with(".app"))
        return std::nullopt;
    return std::string(bundle);
}

} // namespace platform
