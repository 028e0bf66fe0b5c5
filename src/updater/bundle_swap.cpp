#include "updater/bundle_swap.h"

#include "platform/file_system.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

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

int exchangeInOneStep(const std::string& first, const std::string& second) { return platform::exchangePaths(first, second); }

support::Outcome<void> exchangeBundles(const std::string& replacement, const std::string& installed, const ExchangeStep& exchange)
{
    if (const int error = exchange(replacement, installed); error != 0)
        return support::failure(failureText(error));
    return {};
}

bool canExchangeFolders(const std::string& folder, const ExchangeStep& exchange)
{
    const std::string first = folder + "/exchange-probe-1";
    const std::string second = folder + "/exchange-probe-2";
    std::error_code error;
    const bool made = std::filesystem::create_directory(first, error) && std::filesystem::create_directory(second, error);
    const bool exchanged = made && exchange(first, second) == 0;
    std::filesystem::remove(first, error);
    std::filesystem::remove(second, error);
    return exchanged;
}

} // namespace updater
