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
    return std::pair { path.substr(0, separator), path.substr(separator + 1) };
}

std::string_view withoutTrailingSlashes(std::string_view path)
{
    while (path.size() > 1 && path.ends_with('/'))
        path.remove_suffix(1);
    return path;
}

} // namespace

std::string bundleName(std::string_view bundlePath)
{
    bundlePath = withoutTrailingSlashes(bundlePath);
    if (const auto separator = bundlePath.rfind('/'); separator != std::string_view::npos)
        bundlePath.remove_prefix(separator + 1);
    if (bundlePath.ends_with(".app"))
        bundlePath.remove_suffix(4);
    return std::string(bundlePath);
}

std::string bundleInfoPlistPath(std::string_view bundlePath)
{
    return std::string(withoutTrailingSlashes(bundlePath)) + "/Contents/Info.plist";
}

std::string Bundle::infoPlistPath() const { return bundleInfoPlistPath(path); }

std::string bundleExecutablePath(std::string_view requestedBundlePath)
{
    const std::string bundlePath(withoutTrailingSlashes(requestedBundlePath));
    const auto info = readInfoDictionary(bundleInfoPlistPath(bundlePath));
    std::string executable = info ? info->string("CFBundleExecutable").value_or("") : "";
    if (executable.empty())
        executable = bundleName(bundlePath);
    return bundlePath + "/Contents/MacOS/" + executable;
}

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
