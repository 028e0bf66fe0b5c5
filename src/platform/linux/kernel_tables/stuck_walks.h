#pragma once

#include <sys/types.h>

#include <cstddef>
#include <mutex>
#include <set>

namespace platform::linux_files {

// Walks that outlived their bound, by the file system they wait on. A thread
// stuck in the kernel stays stuck for as long as its server is silent, so
// another walk on that file system would only get stuck beside it: at most
// one is left stuck per file system. A file system with none stuck is
// always walked, so silent servers cost nothing on the others; only the
// threads' memory bounds how many file systems can be stuck at once.
class StuckWalks {
public:
    static constexpr std::size_t kMostStuckInAll = 32;

    // Whether a new walk on `fileSystem` may start.
    bool admits(dev_t fileSystem) const;
    void hold(dev_t fileSystem);
    void release(dev_t fileSystem);
    std::size_t count() const;

private:
    mutable std::mutex m_lock;
    std::multiset<dev_t> m_fileSystems;
};

// The process's one list; never destroyed, since a stuck walk may end while
// the process exits.
StuckWalks& stuckWalks();

} // namespace platform::linux_files
