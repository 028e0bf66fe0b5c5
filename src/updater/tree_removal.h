#pragma once

#include <filesystem>

namespace updater {

// Removes a folder and everything in it in one pass over what it held when
// the call began; what cannot go now stays. Never retried: on FUSE a file
// that is still open (a running executable) turns into a new
// .fuse_hiddenNNNN entry when removed, so "until empty" might never end.
// Symbolic links are removed, never followed.
void removeTreeOnce(const std::filesystem::path& root);

} // namespace updater
