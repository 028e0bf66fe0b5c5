#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

// The values an Info.plist may hold that we read: scalars, and arrays of
// texts (lists of identifiers). Other arrays and dictionaries are left out.
using InfoValue = std::variant<std::string, std::int64_t, double, bool, std::vector<std::string>>;

class InfoDictionary {
public:
    InfoDictionary() = default;
    explicit InfoDictionary(std::map<std::string, InfoValue, std::less<>> entries);

    std::optional<std::string> string(std::string_view key) const;
    std::optional<std::int64_t> integer(std::string_view key) const;
    // An array of texts; nothing when the key is missing or holds anything
    // else, an array with other elements included.
    std::optional<std::vector<std::string>> strings(std::string_view key) const;
    bool contains(std::string_view key) const;

private:
    std::map<std::string, InfoValue, std::less<>> m_entries;
};

// Reads a property list file (XML or binary). Nothing when the file is
// missing, unreadable, not a property list, or its root is not a dictionary.
std::optional<InfoDictionary> readInfoDictionary(const std::string& plistPath);

// A bundle as the running program loaded it: its folder and the bundle
// information read once at start.
struct Bundle {
    std::string path;
    InfoDictionary info;

    std::string infoPlistPath() const;
};

// Where the bundle at `bundlePath` keeps its information: Contents/Info.plist.
std::string bundleInfoPlistPath(std::string_view bundlePath);

// The enclosing bundle of an executable at `X.app/Contents/MacOS/exe`, or
// nothing when the executable does not lie in a bundle.
std::optional<std::string> enclosingBundlePath(std::string_view executablePath);

// "/a/Some Thing.app" -> "Some Thing".
std::string bundleName(std::string_view bundlePath);

// The executable a bundle starts: Contents/MacOS/<CFBundleExecutable>, or the
// bundle's name when its information names none.
std::string bundleExecutablePath(std::string_view bundlePath);

// The bundle of the running program. An executable outside a bundle gets its
// own folder as bundle path and empty bundle information.
Bundle loadMainBundle();

} // namespace platform
