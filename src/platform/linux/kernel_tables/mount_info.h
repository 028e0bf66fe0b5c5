#pragma once

// The kernel's table of mounts as /proc/self/mountinfo shows it, and which
// mount holds a given file.

#include <sys/types.h>

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace platform::linux_files {

struct MountEntry {
    std::uint64_t mountID { 0 };
    dev_t device { 0 };
    std::string root; // the folder of the file system shown at the mount point
    std::string mountPoint;
    std::string fileSystemType;
    std::string source;
    std::string superOptions;
};

// One entry per well-formed line, in the file's order (a later mount lies on
// top of an earlier one). Lines are read exactly as the kernel writes them:
// fields separated by single blanks, so that no byte of a name, however odd,
// can shift a field into another. What the kernel wrote as octal escapes
// (\040) is unescaped; lines not in its form are skipped.
std::vector<MountEntry> parseMountInfo(std::istream& input);

// What the kernel says about a file, to find its mount by.
struct MountedFile {
    std::optional<std::uint64_t> mountID; // not every kernel gives it
    dev_t device { 0 };
    std::string canonicalPath; // absolute, no symbolic links
};

// The mount the file lies on: by mount ID when known; else among the mounts
// of its device the innermost whose mount point encloses the file; else the
// innermost mount point of all that encloses it. Nothing only when no entry
// matches at all.
const MountEntry* mountHolding(const std::vector<MountEntry>& mounts, const MountedFile& file);

// Whether `path` is `folder` or lies below it.
bool pathIsWithin(const std::string& path, const std::string& folder);

} // namespace platform::linux_files
