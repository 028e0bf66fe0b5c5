#pragma once

#include "platform/client_process.h"
#include "platform/socket_peer.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Connections whose client only a look through processes can tell, looked
// up on a thread of their own: the serving thread goes on answering the
// clients it serves, and admits those it recognises, while a search runs,
// however much an attacker makes it read. Each search is bounded; at most
// a few connections wait for one, and any more are refused at once.
class ClientAdmissions {
public:
    // A connection is admitted or refused within this long of being taken.
    static constexpr std::chrono::seconds kMostLookupTime { 2 };
    static constexpr std::size_t kMostWaiting = 32;

    struct Looked {
        int descriptor { -1 };
        platform::ClientLookup lookup;
    };

    // `wantsHolder` tells, for a client its socket's group has named, whether
    // it would be served, and so whether its holder is worth finding.
    // `done` is called on the looking thread each time a look ends.
    ClientAdmissions(platform::ClientProcesses& clients, std::function<bool(const platform::ClientProcess&)> wantsHolder, std::function<void()> done);
    // Stops, leaving the connections not taken to the caller.
    ~ClientAdmissions();
    ClientAdmissions(const ClientAdmissions&) = delete;
    ClientAdmissions& operator=(const ClientAdmissions&) = delete;

    // False when too many wait already: the caller refuses it.
    bool lookUp(int descriptor, const platform::PeerSocketLookup& peer, platform::ClientLookup known = {});
    // The looks that have ended since the last call, in the order they ended.
    std::vector<Looked> takeLooked();
    // Ends the looking thread, once the look under way has ended; the
    // connections still waiting or looked up and not yet taken, for the
    // caller to close.
    std::vector<int> stop();

private:
    struct Request {
        int descriptor;
        platform::PeerSocketLookup peer;
        // What was known when it was taken: a group's name, say.
        platform::ClientLookup known;
        platform::ClientProcesses::Deadline deadline;
    };

    void run();
    platform::ClientLookup look(const Request& request);

    platform::ClientProcesses& m_clients;
    std::function<bool(const platform::ClientProcess&)> m_wantsHolder;
    std::function<void()> m_done;
    mutable std::mutex m_lock;
    std::condition_variable m_requested;
    std::deque<Request> m_requests;
    // Whether a lookup runs now: its connection is counted as waiting.
    bool m_lookingUp { false };
    std::vector<Looked> m_looked;
    bool m_stopping { false };
    std::thread m_thread;
};
