#pragma once

#include <chrono>

namespace updater {

// How long to wait before the next automatic check. After a check that
// worked, the full interval. After failures in a row: 5 minutes, then
// doubling (10, 20, 40, ...), never later than the interval itself, so a
// failing feed is asked at most 12 times an hour and soon only once per
// interval.
std::chrono::seconds delayBeforeNextCheck(unsigned failuresInARow, std::chrono::seconds interval);

} // namespace updater
