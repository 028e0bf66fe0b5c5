#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testing_support {

// Polls until `condition` holds; false if it still does not after `bound`.
inline bool eventually(const std::function<bool()>& condition,
    std::chrono::steady_clock::duration bound = std::chrono::seconds(10),
    std::chrono::steady_clock::duration interval = std::chrono::milliseconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(interval);
    }
    return true;
}

} // namespace testing_support
