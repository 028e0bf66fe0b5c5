#include "platform/linux/window_watcher_slots.h"

#include <gtest/gtest.h>

namespace platform::x11 {
namespace {

TEST(WindowWatcherSlots, OnePerProcessAndFewAtAll)
{
    WindowWatcherSlots slots(2);
    struct Step {
        bool take;
        ProcessID process;
        bool granted;
    };
    const Step steps[] = {
        { true, 10, true },
        { true, 10, false }, // already watched
        { true, 11, true },
        { true, 12, false }, // the bound
        { false, 10, true },
        { true, 12, true },
        { true, 10, false }, // the bound again
        { false, 13, true }, // giving back what was never taken changes nothing
        { true, 10, false },
    };
    for (const auto& step : steps) {
        if (step.take)
            EXPECT_EQ(slots.take(step.process), step.granted) << "taking for " << step.process;
        else
            slots.release(step.process);
    }
}

} // namespace
} // namespace platform::x11
