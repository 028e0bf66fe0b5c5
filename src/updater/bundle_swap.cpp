#include "updater/bundle_swap.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace updater {

namespace {

bool exchangeUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

std::string failureText(int error)
{
    if (exchangeUnsupported(error))
        return "the file system cannot exchange the bundles in one step, and the helper is not left without a bundle "
               "between two renames: update not installed";
    return std::string("cannot exchange the bundles: ") + std::strerror(error);
}

} // namespace

int exchangeInOneStep(const std::string& first, const std::string& second)
{
    return renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) == 0 ? 0 : errno;
}

SwapOutcome exchangeBundles(const std::string& replacement, const std::string& installed, const ExchangeStep& exchange)
{
    if (const int error = exchange(replacement, installed); error != 0)
        return { false, failureText(error) };
    return { true, {} };
}

bool canExchangeFolders(const std::string& folder, const ExchangeStep& exchange)
{
    const std::string first = folder + "/exchange-probe-1";
    const std::string second = folder + "/exchange-probe-2";
    const bool made = mkdir(first.c_str(), 0700) == 0 && mkdir(second.c_str(), 0700) == 0;
    const bool exchanged = made && exchange(first, second) == 0;
    rmdir(first.c_str());
    rmdir(second.c_str());
    return exchanged;
}

} // namespace updater
