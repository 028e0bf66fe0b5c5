#pragma once

#include <optional>
#include <string>

namespace platform::linux_files {

// The user's home folder: $HOME when it is absolute, else what the account
// database says. Read afresh on every call, unlike g_get_home_dir(), which
// keeps its first answer for the life of the process.
std::optional<std::string> homeFolder();

// An XDG base folder: the variable's value when it is absolute (the base
// directory rules say to ignore a relative one, which would resolve against
// whatever folder we started in), else `belowHome` inside the home folder.
std::optional<std::string> xdgBaseFolder(const char* variable, const char* belowHome);

} // namespace platform::linux_files
