#include "helper/client_admissions.h"

#include <utility>

ClientAdmissions::ClientAdmissions(platform::ClientProcesses& clients, std::function<bool(const platform::ClientProcess&)> wantsHolder, std::function<void()> done)
    : m_clients(clients)
    , m_wantsHolder(std::move(wantsHolder))
    , m_done(std::move(done))
    , m_thread([this] { run(); })
{
}

ClientAdmissions::~ClientAdmissions() { stop(); }

std::vector<int> ClientAdmissions::stop()
{
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_requested.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    std::vector<int> descriptors;
    for (const auto& request : std::exchange(m_requests, {}))
        descriptors.push_back(request.descriptor);
    for (const auto& looked : std::exchange(m_looked, {}))
        descriptors.push_back(looked.descriptor);
    return descriptors;
}

bool ClientAdmissions::lookUp(int descriptor, const platform::PeerSocketLookup& peer, platform::ClientLookup known)
{
    {
        std::lock_guard lock(m_lock);
        if (m_requests.size() + (m_lookingUp ? 1 : 0) >= kMostWaiting)
            return false;
        m_requests.push_back({ descriptor, peer, std::move(known), std::chrono::steady_clock::now() + kMostLookupTime });
    }
    m_requested.notify_one();
    return true;
}

std::vector<ClientAdmissions::Looked> ClientAdmissions::takeLooked()
{
    std::lock_guard lock(m_lock);
    return std::exchange(m_looked, {});
}

void ClientAdmissions::run()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_requested.wait(lock, [this] { return m_stopping || !m_requests.empty(); });
        if (m_stopping)
            return;
        auto request = std::move(m_requests.front());
        m_requests.pop_front();
        m_lookingUp = true;
        lock.unlock();
        auto lookup = look(request);
        lock.lock();
        m_lookingUp = false;
        m_looked.push_back({ request.descriptor, std::move(lookup) });
        m_done();
    }
}

// A connection that waited its whole bound in the queue is refused unlooked.
platform::ClientLookup ClientAdmissions::look(const Request& request)
{
    using Outcome = platform::ClientLookup::Outcome;
    if (std::chrono::steady_clock::now() > request.deadline)
        return { Outcome::timedOut, {} };
    auto lookup = request.known.outcome == Outcome::found ? request.known : m_clients.ofPeerSocket(request.peer, request.deadline);
    // A group named the sandbox: its processes are looked into only when it
    // is to be served, to find the one whose view its paths mean.
    if (lookup.outcome == Outcome::found && !lookup.client.handle && m_wantsHolder(lookup.client))
        lookup = m_clients.findHolder(request.peer, lookup.client, request.deadline);
    return lookup;
}
