#pragma once

// Scratch folders, property lists, bundles and child processes: the platform
// tests work on the real system rather than on fakes.

#include "support/child_process.h"
#include "support/eventually.h"
#include "support/temporary_directory.h"
#include "support/text_files.h"

#include <plist/plist.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace platform::testing {

using testing_support::ChildProcess;
using testing_support::eventually;
using testing_support::TemporaryDirectory;

using testing_support::readTextFile;
using testing_support::writeTextFile;

// Writes `root` as XML or binary and frees it.
inline void writePlist(const std::string& path, plist_t root, bool binary = false)
{
    char* data = nullptr;
    uint32_t length = 0;
    binary ? plist_to_bin(root, &data, &length) : plist_to_xml(root, &data, &length);
    plist_free(root);
    writeTextFile(path, std::string(data, length));
    std::free(data);
}

// Creates `<folder>/<name>.app/Contents/MacOS`, with an Info.plist of string
// entries unless `info` is empty, and returns the bundle path.
inline std::string makeBundle(const std::filesystem::path& folder, const std::string& name,
    const std::map<std::string, std::string>& info)
{
    const auto bundle = folder / (name + ".app");
    std::filesystem::create_directories(bundle / "Contents" / "MacOS");
    if (info.empty())
        return bundle.string();
    plist_t root = plist_new_dict();
    for (const auto& [key, value] : info)
        plist_dict_set_item(root, key.c_str(), plist_new_string(value.c_str()));
    writePlist((bundle / "Contents" / "Info.plist").string(), root);
    return bundle.string();
}

// Whether this process may become `user`: root, and `user` exists in its user
// namespace. Inside a namespace where a developer was mapped to root, only
// root itself does.
inline bool mayBecomeUser(uid_t user)
{
    if (getuid() != 0)
        return false;
    std::ifstream map("/proc/self/uid_map");
    for (std::uint64_t inside, outside, count; map >> inside >> outside >> count;) {
        if (user >= inside && user - inside < count)
            return true;
    }
    return false;
}

} // namespace platform::testing
