#include "updater/bundle_swap.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace updater {

namespace {

std::string systemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool exchangeUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

SwapOutcome renameInTwoSteps(const std::string& replacement, const std::string& installed)
{
    const std::string aside = replacement + ".previous";
    if (rename(installed.c_str(), aside.c_str()) != 0)
        return { false, systemError("cannot move the installed bundle aside") };
    if (rename(replacement.c_str(), installed.c_str()) != 0) {
        auto failure = systemError("cannot move the new bundle into place");
        rename(aside.c_str(), installed.c_str());
        return { false, failure };
    }
    // The old bundle stays beside the replacement's former place, in the
    // caller's staging folder, which goes with it.
    return { true, {} };
}

} // namespace

SwapOutcome exchangeBundles(const std::string& replacement, const std::string& installed)
{
    if (renameat2(AT_FDCWD, replacement.c_str(), AT_FDCWD, installed.c_str(), RENAME_EXCHANGE) == 0)
        return { true, {} };
    if (!exchangeUnsupported(errno))
        return { false, systemError("cannot exchange the bundles") };
    return renameInTwoSteps(replacement, installed);
}

} // namespace updater
