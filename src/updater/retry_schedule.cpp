#include "updater/retry_schedule.h"

#include <algorithm>

namespace updater {

namespace {
constexpr std::chrono::seconds kFirstRetry { 300 };
}

std::chrono::seconds delayBeforeNextCheck(unsigned failuresInARow, std::chrono::seconds interval)
{
    if (failuresInARow == 0)
        return interval;
    auto delay = kFirstRetry;
    for (unsigned failure = 1; failure < failuresInARow && delay < interval; ++failure)
        delay *= 2;
    return std::max(std::min(delay, interval), kFirstRetry);
}

} // namespace updater
