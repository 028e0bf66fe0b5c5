#pragma once

#include <string>

namespace updater {

struct SwapOutcome {
    bool succeeded { false };
    std::string failure;
};

// Puts the bundle at `replacement` in place of the one at `installed`, both
// on one file system. With RENAME_EXCHANGE (the usual case) the installed
// path always names a whole bundle, and the old one ends up at
// `replacement`. File systems without it get two renames: the old bundle
// to `replacement` + ".previous", the new one into place (the installed
// path is missing between the two); if the second fails the old one is
// put back. Either way the old bundle lies beside `replacement`.
SwapOutcome exchangeBundles(const std::string& replacement, const std::string& installed);

} // namespace updater
