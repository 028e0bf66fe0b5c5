#include "platform/client_process.h"
#include "platform/linux/kernel_tables/control_groups.h"
#include "platform/linux/kernel_tables/proc_entries.h"
#include "platform/linux/sandbox/client_process_handle.h"
#include "platform/linux/sandbox/holder_search.h"
#include "platform/linux/sandbox/sandbox_groups.h"
#include "platform/linux_platform.h"

#include <unistd.h>

#include <algorithm>
#include <mutex>

namespace platform {

namespace {

using Outcome = ClientLookup::Outcome;
using Sandbox = ClientProcess::Sandbox;
using GroupName = cgroups::ControlGroups::Name;

// Clients reconnect from the same few processes: the download manager, a
// script of the user's. What was learnt of each is kept for its next
// connection; more than a few would only be searched in vain.
constexpr std::size_t kMostKnownClients = 16;

const ClientProcessHandle& handleOf(const ClientProcess& client) { return *client.handle; }

// The client a group's name says made the socket; its holder is not known yet.
ClientProcess namedBy(const sandbox::GroupSandbox& scoped)
{
    return { scoped.kind == sandbox::GroupSandbox::Kind::flatpak ? Sandbox::flatpak : Sandbox::snap, 0, scoped.id, nullptr };
}

class LinuxClientProcesses final : public ClientProcesses {
public:
    std::optional<ClientLookup> recognise(const PeerSocketLookup& peer) override
    {
        const auto socketLink = sandbox::socketLinkOf(peer.inode);
        if (groupsTell(peer)) {
            const auto name = m_groups.known(peer.controlGroup);
            if (name.state == GroupName::State::gone)
                return ClientLookup { Outcome::groupGone, {} };
            if (name.state == GroupName::State::unknown)
                return std::nullopt;
            if (auto scoped = sandbox::sandboxOfGroup(name.path)) {
                auto known = knownHolder(socketLink, peer.controlGroup);
                return ClientLookup { Outcome::found, known ? std::move(*known) : namedBy(*scoped) };
            }
        }
        if (auto known = knownHolder(socketLink, peer.controlGroup))
            return ClientLookup { Outcome::found, std::move(*known) };
        return std::nullopt;
    }

    ClientLookup ofPeerSocket(const PeerSocketLookup& peer, Deadline deadline) override
    {
        std::optional<std::vector<pid_t>> candidates;
        if (groupsTell(peer)) {
            // A socket made in a group that has gone, or cannot be named
            // in time, cannot be told from a sandbox's: no holder says more.
            const auto name = m_groups.learn(peer.controlGroup, deadline);
            if (name.state != GroupName::State::named)
                return { name.state == GroupName::State::gone ? Outcome::groupGone : Outcome::timedOut, {} };
            if (auto scoped = sandbox::sandboxOfGroup(name.path))
                return { Outcome::found, namedBy(*scoped) };
            candidates = m_groups.processesIn(name.path);
            if (!candidates)
                return { m_groups.exists(name.path) ? Outcome::failed : Outcome::groupGone, {} };
        } else {
            candidates = procfs::listedProcessIDs();
        }
        const auto socketLink = sandbox::socketLinkOf(peer.inode);
        if (auto known = knownElsewhere(socketLink, peer.controlGroup, deadline))
            return { Outcome::found, std::move(*known) };
        return sandbox::conclude(sandbox::searchHolders(std::move(*candidates), socketLink, deadline), peer.controlGroup);
    }

    // The group named the sandbox; the holder among its processes is the one
    // whose root its paths are resolved in.
    ClientLookup findHolder(const PeerSocketLookup& peer, const ClientProcess& named, Deadline deadline) override
    {
        const auto socketLink = sandbox::socketLinkOf(peer.inode);
        if (auto known = knownElsewhere(socketLink, peer.controlGroup, deadline))
            return { Outcome::found, std::move(*known) };
        const auto name = m_groups.learn(peer.controlGroup, deadline);
        const auto members = name.state == GroupName::State::named ? m_groups.processesIn(name.path) : std::nullopt;
        if (!members)
            return { Outcome::groupGone, {} };
        auto found = sandbox::conclude(sandbox::searchHolders(*members, socketLink, deadline), peer.controlGroup);
        if (found.outcome == Outcome::found) {
            found.client.sandbox = named.sandbox;
            found.client.applicationId = named.applicationId;
        }
        return found;
    }

    void rememberServed(const ClientProcess& client) override
    {
        if (!client.handle)
            return;
        std::lock_guard lock(m_lock);
        // A client that reconnects is served as it was last time: nothing
        // to learn, and nothing worth a system call on the way to its reply.
        if (!m_known.empty() && m_known.front().handle == client.handle)
            return;
        std::erase_if(m_known, [&](const ClientProcess& known) { return handleOf(known).sharedTask() == handleOf(client).sharedTask(); });
        if (m_known.size() >= kMostKnownClients)
            std::erase_if(m_known, [](const ClientProcess& known) { return handleOf(known).task().hasEnded(); });
        m_known.insert(m_known.begin(), client);
        if (m_known.size() > kMostKnownClients)
            m_known.pop_back();
    }

    bool groupsNameSandboxes() const override
    {
        const auto uid = std::to_string(getuid());
        return m_groups.exists("/user.slice/user-" + uid + ".slice/user@" + uid + ".service");
    }

private:
    bool groupsTell(const PeerSocketLookup& peer) const { return m_groups.available() && peer.controlGroup != 0; }

    // A served client that holds this socket where it held its last one: a
    // client that reconnects usually gets the same number again, and one
    // look at it needs no descriptor of ours.
    std::optional<ClientProcess> knownHolder(const std::string& socketLink, std::uint64_t controlGroup) const
    {
        std::lock_guard lock(m_lock);
        for (const auto& known : m_known) {
            const auto& handle = handleOf(known);
            if (handle.controlGroup() == controlGroup && sandbox::holdsAt(handle.task(), handle.descriptor(), socketLink))
                return known;
        }
        return std::nullopt;
    }

    // A served client that holds it at another number than last time.
    std::optional<ClientProcess> knownElsewhere(const std::string& socketLink, std::uint64_t controlGroup, Deadline deadline) const
    {
        std::vector<ClientProcess> known;
        {
            std::lock_guard lock(m_lock);
            known = m_known;
        }
        for (auto& client : known) {
            const auto& handle = handleOf(client);
            if (handle.controlGroup() != controlGroup)
                continue;
            const auto holding = sandbox::findSocketIn(handle.task(), socketLink, deadline);
            if (holding.result != sandbox::SocketHolding::Result::holds || holding.thread)
                continue;
            client.handle = std::make_shared<const ClientProcessHandle>(handle.sharedTask(), holding.descriptor, controlGroup);
            return client;
        }
        return std::nullopt;
    }

    cgroups::ControlGroups m_groups;
    mutable std::mutex m_lock;
    // Served clients, the most recently served first.
    std::vector<ClientProcess> m_known;
};

} // namespace

std::unique_ptr<ClientProcesses> makeClientProcesses() { return std::make_unique<LinuxClientProcesses>(); }

} // namespace platform
