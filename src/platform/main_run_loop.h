#pragma once

#include <functional>

namespace platform {

class MainRunLoop {
public:
    virtual ~MainRunLoop() = default;

    // Runs the loop on the calling thread, the main thread, until
    // termination is requested; the result is the exit status.
    virtual int run() = 0;

    // Queues work for the main thread. Safe from any thread; never waits.
    virtual void post(std::function<void()> work) = 0;

    // Asks the loop to end, run() then giving `exitStatus`. Safe from any
    // thread.
    virtual void requestTermination(int exitStatus) = 0;
    void requestTermination() { requestTermination(0); }
};

} // namespace platform
