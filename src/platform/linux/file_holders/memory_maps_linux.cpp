#include "platform/linux/file_holders/memory_maps.h"

#include <sys/sysmacros.h>

#include <charconv>
#include <cstdint>
#include <optional>

namespace platform::linux_files {
namespace {

// Drops the text up to and including the next blank.
bool skipField(std::string_view& line)
{
    auto blank = line.find(' ');
    if (blank == std::string_view::npos)
        return false;
    line.remove_prefix(blank + 1);
    return true;
}

template<typename Number>
std::optional<Number> takeNumber(std::string_view& text, int base)
{
    Number value {};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc {})
        return std::nullopt;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return value;
}

bool lineMentionsFile(std::string_view line, dev_t device, ino_t inode)
{
    for (int field = 0; field < 3; ++field) {
        if (!skipField(line))
            return false;
    }
    auto major = takeNumber<unsigned>(line, 16);
    if (!major || !line.starts_with(':'))
        return false;
    line.remove_prefix(1);
    auto minor = takeNumber<unsigned>(line, 16);
    if (!minor || !line.starts_with(' '))
        return false;
    line.remove_prefix(1);
    auto lineInode = takeNumber<std::uint64_t>(line, 10);
    return lineInode && *lineInode != 0 && *lineInode == inode && makedev(*major, *minor) == device;
}

} // namespace

bool mapsMentionFile(std::string_view mapsText, dev_t device, ino_t inode)
{
    while (!mapsText.empty()) {
        auto end = mapsText.find('\n');
        auto line = mapsText.substr(0, end);
        if (lineMentionsFile(line, device, inode))
            return true;
        if (end == std::string_view::npos)
            break;
        mapsText.remove_prefix(end + 1);
    }
    return false;
}

} // namespace platform::linux_files
