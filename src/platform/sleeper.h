#pragma once

#include <chrono>

namespace platform {

class Sleeper {
public:
    virtual ~Sleeper() = default;
    // Blocks the calling thread.
    virtual void sleepFor(std::chrono::milliseconds duration) = 0;
};

} // namespace platform
