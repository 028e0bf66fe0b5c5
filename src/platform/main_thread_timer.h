#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace platform {

// One pending piece of work for the main thread's run loop, run once after
// a delay. Use it from the main thread only.
class MainThreadTimer {
public:
    virtual ~MainThreadTimer() = default;
    // Replaces whatever was pending.
    virtual void runAfter(std::chrono::seconds delay, std::function<void()> work) = 0;
    virtual void cancel() = 0;
};

std::unique_ptr<MainThreadTimer> makeMainThreadTimer();

} // namespace platform
