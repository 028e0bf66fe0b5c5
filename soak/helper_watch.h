#pragma once

// The helper under soak, across its restarts: which process serves, what it
// holds over time, and how each one ended.

#include "integration/helper_harness.h"
#include "soak/soak_world.h"

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace soak {

struct Sample {
    int descriptors { 0 };
    int threads { 0 };
    long residentKiB { 0 };
};

// One helper process, from its start to its end.
struct Instance {
    pid_t pid;
    Clock::time_point started;
    Sample first;
    Sample peak;
    Sample last;
    Clock::time_point lastSeen;
    std::optional<Sample> afterOneMinute;
};

class HelperWatch {
public:
    HelperWatch(const harness::HelperBundleCopy& bundle, Tally& tally);

    // The helper that now serves; the soak's process is the init of its PID
    // namespace, so every helper ends as its child, whoever started it.
    void serving(pid_t pid);
    // Takes a sample of the serving helper and reaps those that ended; one
    // that ended unasked is a crash.
    void look();
    // `restart`, then waits for the helper's end and for its successor's
    // welcome. Called with the world lock held for writing.
    void restart();
    // `quit`, then waits for the helper's orderly end.
    void quit();

    std::vector<Instance> instances() const;
    // What the serving helper's descriptors lead to, one per line.
    std::string descriptorsOfServing() const;
    // How another process of the soak's namespace ended, once reaped here;
    // empty before.
    std::string endOfOther(pid_t pid) const;

private:
    std::optional<Sample> sampleOf(pid_t pid) const;
    void reap();
    bool awaitEnd(pid_t pid, Clock::duration limit);
    void endOnCommand(const std::string& command);
    void noteEnd(pid_t pid, int status);

    const harness::HelperBundleCopy& m_bundle;
    Tally& m_tally;
    mutable std::mutex m_mutex;
    std::vector<Instance> m_instances;
    // Helpers asked to end, and how each ended once it has.
    std::set<pid_t> m_askedToEnd;
    std::map<pid_t, int> m_ended;
    std::map<pid_t, int> m_othersEnded;
    // What the serving helper holds goes into the timeline once a minute.
    Clock::time_point m_nextTold {};
};

} // namespace soak
