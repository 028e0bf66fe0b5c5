#include "platform/linux_platform.h"

#include <thread>

namespace platform {

namespace {

class ThreadSleeper final : public Sleeper {
public:
    void sleepFor(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

} // namespace

std::unique_ptr<Sleeper> makeSleeper()
{
    return std::make_unique<ThreadSleeper>();
}

} // namespace platform
