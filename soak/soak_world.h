#pragma once

// What the soak's actors share: what is true at the moment, which changes
// only while the world lock is held for writing, and the tallies the report
// is made of.

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace soak {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// An answer, a welcome or a refusal later than this is a wait past the
// bound: the 2 s a walk into a mount that has just gone silent may hold
// every client, and a second for a sanitizer build on a loaded machine.
constexpr auto kReplyBound = 3s;
// The counter of answers on the FUSE mount given while its daemon had ended:
// what the soak takes for true no longer is, so they are neither right nor
// wrong.
constexpr const char* kFuseDaemonEndedAnswers = "answers on the FUSE mount while bindfs had ended";

// Seconds since the soak began, for the timeline it prints.
double secondsIn();
// Prints one line of the timeline.
void tell(const std::string& what);

// Readers: one command and the check of its answer. Writers: a change of
// what is true (a mount going silent, a holder ending, a restart). Writers
// go first, so a steady stream of commands never holds a change off.
class WorldLock {
public:
    WorldLock()
    {
        pthread_rwlockattr_t attributes;
        pthread_rwlockattr_init(&attributes);
        pthread_rwlockattr_setkind_np(&attributes, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
        pthread_rwlock_init(&m_lock, &attributes);
        pthread_rwlockattr_destroy(&attributes);
    }
    ~WorldLock() { pthread_rwlock_destroy(&m_lock); }
    WorldLock(const WorldLock&) = delete;
    WorldLock& operator=(const WorldLock&) = delete;

    void lock() { pthread_rwlock_wrlock(&m_lock); }
    void unlock() { pthread_rwlock_unlock(&m_lock); }
    void lock_shared() { pthread_rwlock_rdlock(&m_lock); }
    void unlock_shared() { pthread_rwlock_unlock(&m_lock); }

private:
    pthread_rwlock_t m_lock;
};

enum class Holding { none,
    open,
    mapped };

// Read under the world lock's reader side, written under its writer side.
struct Truth {
    std::string version;
    std::string networkVolumeURL;
    bool playerInstalled { false };
    Holding heldFile { Holding::none };
    bool mountSilent { false };
    Clock::time_point mountWoke {};
    // Ends every connection made before it.
    int restarts { 0 };
};

// A command a friendly client had answered, for the log to show.
struct AnsweredCommand {
    long token;
    int client;
    std::string reply;
};

class Tally {
public:
    void answered(const std::string& kind, Clock::duration took);
    void wrong(const std::string& what);
    // A wait past kReplyBound; `took` is how long it was.
    void late(const std::string& kind, Clock::duration took);
    void crashed(const std::string& what);
    void note(const std::string& counter, long added = 1);
    void logged(AnsweredCommand command);

    struct Figures {
        std::map<std::string, std::vector<double>> milliseconds;
        std::vector<std::string> wrong;
        std::vector<std::string> late;
        std::vector<std::string> crashes;
        std::map<std::string, long> counters;
        std::vector<AnsweredCommand> answered;
    };
    Figures figures() const;

private:
    mutable std::mutex m_mutex;
    Figures m_figures;
};

// The next token: each friendly command carries one, so that its two log
// lines can be told from all others.
inline long nextToken()
{
    static std::atomic<long> last { 0 };
    return ++last;
}

} // namespace soak
