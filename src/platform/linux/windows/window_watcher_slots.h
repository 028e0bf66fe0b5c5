#pragma once

#include "platform/running_applications.h"

#include <cstddef>
#include <mutex>
#include <set>

namespace platform::x11 {

// Which processes are being watched for a first window. Each watcher holds a
// thread and a display connection for seconds, and a client may ask again and
// again, so one watcher per process is enough and only a few run at all.
class WindowWatcherSlots {
public:
    explicit WindowWatcherSlots(std::size_t most)
        : m_most(most)
    {
    }

    // True when a watcher for `process` may start; it gives the slot back
    // with release() when it ends.
    bool take(ProcessID process);
    void release(ProcessID process);

private:
    std::mutex m_lock;
    std::set<ProcessID> m_watched;
    std::size_t m_most;
};

} // namespace platform::x11
