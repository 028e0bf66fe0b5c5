#include "platform/linux/kernel_tables/mount_info.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <charconv>
#include <string_view>

namespace platform::linux_files {
namespace {

bool isOctalDigit(char c) { return c >= '0' && c <= '7'; }

// The kernel writes blank, tab, line feed and backslash in names as \ooo so
// that fields stay separated by single blanks.
std::string unescaped(std::string_view field)
{
    std::string text;
    text.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctalDigit(field[i + 1]) && isOctalDigit(field[i + 2])
            && isOctalDigit(field[i + 3])) {
            int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            text.push_back(static_cast<char>(value & 0xff));
            i += 3;
        } else {
            text.push_back(field[i]);
        }
    }
    return text;
}

template<typename Number>
std::optional<Number> numberFrom(std::string_view text)
{
    Number value {};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::optional<dev_t> deviceFrom(std::string_view text)
{
    auto colon = text.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    auto major = numberFrom<unsigned>(text.substr(0, colon));
    auto minor = numberFrom<unsigned>(text.substr(colon + 1));
    if (!major || !minor)
        return std::nullopt;
    return makedev(*major, *minor);
}

// Exactly one blank separates fields, so two in a row enclose an empty field
// (a tmpfs mounted with an empty source). Every other byte belongs to its
// field: the kernel escapes only blank, tab, line feed and backslash, and a
// carriage return or vertical tab in a folder name is written as it is.
std::vector<std::string_view> fieldsOf(std::string_view line)
{
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        auto blank = line.find(' ', start);
        fields.push_back(line.substr(start, blank - start));
        if (blank == std::string_view::npos)
            return fields;
        start = blank + 1;
    }
}

// ID parent major:minor root mount-point options [optional fields...] - type source super-options
constexpr std::size_t kLeadingFields = 6;
constexpr std::size_t kTrailingFields = 3;

// The optional fields end at the first lone "-"; after it come exactly the
// type, the source and the super options.
std::optional<std::size_t> separatorIndex(const std::vector<std::string_view>& fields)
{
    if (fields.size() < kLeadingFields + 1 + kTrailingFields)
        return std::nullopt;
    auto separator = std::find(fields.begin() + kLeadingFields, fields.end(), "-");
    if (std::distance(separator, fields.end()) != 1 + kTrailingFields)
        return std::nullopt;
    return static_cast<std::size_t>(std::distance(fields.begin(), separator));
}

// Only the source may be empty; the kernel always writes something in the
// other fields ("rw" or "ro" at least in both option lists). No name holds a
// NUL byte, so an escape that gives one (\000, \400) is not the kernel's.
bool isWellFormed(const MountEntry& entry, std::string_view mountOptions)
{
    auto holdsNul = [](std::string_view text) { return text.find('\0') != std::string_view::npos; };
    if (entry.root.empty() || entry.mountPoint.empty() || mountOptions.empty() || entry.fileSystemType.empty()
        || entry.superOptions.empty())
        return false;
    return !holdsNul(entry.root) && !holdsNul(entry.mountPoint) && !holdsNul(entry.fileSystemType)
        && !holdsNul(entry.source) && !holdsNul(entry.superOptions);
}

std::optional<MountEntry> entryFrom(std::string_view line)
{
    if (line.find('\0') != std::string_view::npos)
        return std::nullopt;
    auto fields = fieldsOf(line);
    auto separator = separatorIndex(fields);
    if (!separator)
        return std::nullopt;
    // IDs are the kernel's ints, written unsigned.
    auto mountID = numberFrom<std::uint32_t>(fields[0]);
    auto parentID = numberFrom<std::uint32_t>(fields[1]);
    auto device = deviceFrom(fields[2]);
    if (!mountID || !parentID || !device)
        return std::nullopt;
    MountEntry entry {
        *mountID,
        *device,
        unescaped(fields[3]),
        unescaped(fields[4]),
        unescaped(fields[*separator + 1]),
        unescaped(fields[*separator + 2]),
        unescaped(fields[*separator + 3]),
    };
    if (!isWellFormed(entry, fields[5]))
        return std::nullopt;
    return entry;
}

// Of the mounts that pass `candidate`, the innermost that encloses the path;
// mounts later in the table lie on top of earlier ones at the same point.
const MountEntry* innermostEnclosing(const std::vector<MountEntry>& mounts, const std::string& path,
    const auto& candidate)
{
    const MountEntry* best = nullptr;
    for (auto const& mount : mounts) {
        if (!candidate(mount) || !pathIsWithin(path, mount.mountPoint))
            continue;
        if (!best || mount.mountPoint.size() >= best->mountPoint.size())
            best = &mount;
    }
    return best;
}

} // namespace

std::vector<MountEntry> parseMountInfo(std::istream& input)
{
    std::vector<MountEntry> mounts;
    for (std::string line; std::getline(input, line);) {
        if (auto entry = entryFrom(line))
            mounts.push_back(std::move(*entry));
    }
    return mounts;
}

bool pathIsWithin(const std::string& path, const std::string& folder)
{
    if (folder == "/")
        return path.starts_with('/');
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

const MountEntry* mountHolding(const std::vector<MountEntry>& mounts, const MountedFile& file)
{
    if (file.mountID) {
        auto byID = std::ranges::find(mounts, *file.mountID, &MountEntry::mountID);
        if (byID != mounts.end())
            return &*byID;
    }
    auto sameDevice = [&](const MountEntry& mount) { return mount.device == file.device; };
    if (auto enclosing = innermostEnclosing(mounts, file.canonicalPath, sameDevice))
        return enclosing;
    // A device mounted only at a folder the path does not run through (the
    // file was reached through a bind mount of a part of it): the topmost.
    auto lastOfDevice = std::ranges::find_if(mounts.rbegin(), mounts.rend(), sameDevice);
    if (lastOfDevice != mounts.rend())
        return &*lastOfDevice;
    // File systems such as btrfs give files of nested subvolumes a device
    // number the table does not show: the path is all that is left.
    return innermostEnclosing(mounts, file.canonicalPath, [](const MountEntry&) { return true; });
}

} // namespace platform::linux_files
