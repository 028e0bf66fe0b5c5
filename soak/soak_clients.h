#pragma once

// The helper's clients in the soak: the user's download manager asking what
// it asks, and the ones a helper must outlast.

#include "integration/helper_harness.h"
#include "soak/soak_world.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>

namespace harness {
class PrivateBus;
}

namespace soak {

// How long a client waits for anything before it calls it lost.
constexpr auto kPatience = 15s;

inline std::string shown(const std::optional<std::string>& text) { return text ? "\"" + *text + "\"" : "nothing"; }

// Everything a client needs to know to ask and to check the answer.
struct Scene {
    WorldLock& world;
    const Truth& truth;
    Tally& tally;
    const std::atomic<bool>& stop;
    std::filesystem::path freeFile;
    std::filesystem::path heldFile;
    std::filesystem::path fuseFile;
    std::filesystem::path heldFuseFile;
    std::filesystem::path localFolder;
    std::filesystem::path networkFile;
    // How the stand-ins are, told beside a wrong answer: a stand-in that
    // ended makes the truth the soak keeps untrue.
    std::function<std::string()> standIns {};
    // Whether the FUSE mount's daemon has ended, until it is mounted again.
    std::function<bool()> fuseDaemonEnded {};
};

// One connection to the helper as a client sees it: greeted, and ended by a
// restart.
class Connection {
public:
    explicit Connection(Scene& scene)
        : m_scene(scene)
    {
    }
    // A greeted connection made since the last restart, or none when the
    // helper did not greet (counted).
    harness::Client* greeted();
    // Sends `line` and checks the one line that answers it against
    // `expected` (or `alsoRight`); returns the answer.
    std::optional<std::string> ask(const std::string& kind, const std::string& line, const std::string& expected,
        const std::optional<std::string>& alsoRight = std::nullopt);
    void drop() { m_client.reset(); }

private:
    Scene& m_scene;
    std::optional<harness::Client> m_client;
    int m_restartsSeen { -1 };
};

// A download manager's requests, each checked against what is true as it is
// asked. A keeping client holds its connection; the others connect for each
// command.
void runFriendlyClient(Scene& scene, int id, bool keepsConnection);

// Each command of the friendly clients once, checked as theirs are.
void askEveryKindOnce(Scene& scene);

// preventSystemSleep and allowSystemSleep, with logind's inhibitors looked
// at after each.
void runSleepClient(Scene& scene, const harness::PrivateBus& systemBus);

// Lines a download manager never sends: NUL bytes, invalid UTF-8, a line sent
// a byte at a time, one that stops, 2 MB without a line end, an HTTP request.
void runHostileClient(Scene& scene);

// Another user's processes connecting to the port as fast as they are
// refused. Forked before any thread starts; ends when `stop` is called.
class OtherUserStorm {
public:
    OtherUserStorm();
    ~OtherUserStorm();
    OtherUserStorm(const OtherUserStorm&) = delete;
    OtherUserStorm& operator=(const OtherUserStorm&) = delete;

    void start();
    void stop();
    long connections() const;
    const std::optional<std::string>& refusal() const { return m_refusal; }

private:
    pid_t m_pid { -1 };
    int m_control { -1 };
    std::atomic<long>* m_made { nullptr };
    std::optional<std::string> m_refusal;
};

} // namespace soak
