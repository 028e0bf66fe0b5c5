#include "platform/client_process.h"
#include "platform/linux/kernel_tables/proc_entries.h"
#include "platform/linux/sandbox/client_process_handle.h"
#include "platform/linux/kernel_tables/control_groups.h"
#include "platform/linux/sandbox/sandbox_groups.h"
#include "platform/linux/sandbox/sandbox_of_process.h"
#include "platform/linux/sandbox/socket_holding.h"
#include "platform/linux_platform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

namespace platform {

namespace {

using procfs::ProcessDirectory;
using Outcome = ClientLookup::Outcome;
using Sandbox = ClientProcess::Sandbox;
using Holding = sandbox::SocketHolding::Result;

// Clients reconnect from the same few processes: the download manager, a
// script of the user's. What was learnt of each is kept for its next
// connection; more than a few would only be searched in vain.
constexpr std::size_t kMostKnownClients = 16;

// A process that held a client's socket, as found then.
struct KnownClient {
    ClientProcess client;
    std::uint64_t controlGroup { 0 };
    int descriptor { -1 };
};

// What one search of the candidates found.
struct Search {
    std::optional<KnownClient> sandboxed;
    std::optional<KnownClient> ordinary;
    bool sandboxesDisagree { false };
    bool unreadable { false };
};

// What a look at a process's /proc entry tells, before it is opened: most
// are ordinary processes that may never need opening.
enum class Glance {
    notOurs,
    ordinary,
    // In another mount namespace, or one we may not look at.
    sandboxedOrUnreadable,
};

Glance glanceAt(pid_t pid, bool& unreadable)
{
    static const uid_t user = getuid();
    static const auto ourNamespace = ProcessDirectory(getpid()).mountNamespace();
    const auto entry = "/proc/" + std::to_string(pid);
    struct stat status = {};
    if (stat(entry.c_str(), &status) != 0)
        return Glance::notOurs;
    if (status.st_uid != user) {
        // A process of ours that made itself unreadable shows as root's; its
        // status still tells whose it is.
        if (status.st_uid == 0 && procfs::realUserID(pid) == user)
            unreadable = true;
        return Glance::notOurs;
    }
    struct stat view = {};
    if (stat((entry + "/ns/mnt").c_str(), &view) == 0 && ourNamespace && view.st_ino == *ourNamespace)
        return Glance::ordinary;
    return Glance::sandboxedOrUnreadable;
}

KnownClient describeHolder(sandbox::SocketHolding holding, ProcessDirectory process, std::uint64_t controlGroup)
{
    auto task = holding.thread ? std::move(*holding.thread) : std::move(process);
    auto client = sandbox::inOtherMountNamespace(task) ? sandbox::identityOf(task) : ClientProcess { Sandbox::none, task.id(), {}, nullptr };
    client.process = task.id();
    client.handle = std::make_shared<const ClientProcessHandle>(std::move(task));
    return { std::move(client), controlGroup, holding.descriptor };
}

class LinuxClientProcesses final : public ClientProcesses {
public:
    ClientLookup ofPeerSocket(const PeerSocketLookup& peer) override
    {
        const auto socketLink = sandbox::socketLinkOf(peer.inode);
        const auto group = m_groups.pathOf(peer.controlGroup);
        if (auto scoped = group ? sandbox::sandboxOfGroup(*group) : std::nullopt)
            return inSandboxGroup(*scoped, *group, socketLink, peer.controlGroup);
        if (auto known = knownHolder(socketLink, peer.controlGroup))
            return { Outcome::found, known->client };
        const auto candidates = group ? m_groups.processesIn(*group) : std::nullopt;
        return remember(search(candidates ? *candidates : procfs::listedProcessIDs(), socketLink, peer.controlGroup));
    }

private:
    // A group that names a sandbox says who made the socket: its processes
    // are searched only for the one holding it, whose root paths are
    // resolved in.
    ClientLookup inSandboxGroup(const sandbox::GroupSandbox& scoped, const std::string& group, const std::string& socketLink, std::uint64_t id)
    {
        const auto members = m_groups.processesIn(group);
        auto found = search(members.value_or(std::vector<pid_t> {}), socketLink, id);
        auto holder = found.sandboxed ? std::move(found.sandboxed) : std::move(found.ordinary);
        if (!holder)
            return { found.unreadable ? Outcome::unreadable : Outcome::noHolder, {} };
        holder->client.sandbox = scoped.kind == sandbox::GroupSandbox::Kind::flatpak ? Sandbox::flatpak : Sandbox::snap;
        holder->client.applicationId = scoped.id;
        return { Outcome::found, holder->client };
    }

    // A process that held an earlier socket of the same group and holds
    // this one too. A client that reconnects usually has the socket where
    // it had the last one: one look at each, before anything costlier.
    std::optional<KnownClient> knownHolder(const std::string& socketLink, std::uint64_t controlGroup)
    {
        for (auto known = m_known.begin(); known != m_known.end(); ++known) {
            if (known->controlGroup == controlGroup && sandbox::holdsAt(known->client.handle->task(), known->descriptor, socketLink))
                return mostRecent(known);
        }
        for (auto known = m_known.begin(); known != m_known.end();) {
            if (known->client.handle->task().hasEnded()) {
                known = m_known.erase(known); // its directory names nothing now
                continue;
            }
            if (known->controlGroup == controlGroup && holdsElsewhere(*known, socketLink))
                return mostRecent(known);
            ++known;
        }
        return std::nullopt;
    }

    KnownClient mostRecent(std::vector<KnownClient>::iterator known)
    {
        std::rotate(m_known.begin(), known, known + 1);
        return m_known.front();
    }

    // Whether its own table holds the socket at another number than last time.
    static bool holdsElsewhere(KnownClient& known, const std::string& socketLink)
    {
        auto holding = sandbox::findSocketIn(known.client.handle->task(), socketLink);
        if (holding.result != Holding::holds || holding.thread)
            return false;
        known.descriptor = holding.descriptor;
        return true;
    }

    // Processes in another mount namespace are few and every one of them
    // is searched, so that a sandbox holding the socket is never missed;
    // among the many others, the first holder is evidence enough. The
    // newest processes are searched first: a client is usually young.
    Search search(std::vector<pid_t> candidates, const std::string& socketLink, std::uint64_t controlGroup)
    {
        Search found;
        std::vector<pid_t> ordinary;
        std::sort(candidates.begin(), candidates.end(), std::greater<> {});
        for (const pid_t pid : candidates) {
            switch (glanceAt(pid, found.unreadable)) {
            case Glance::notOurs:
                break;
            case Glance::ordinary:
                ordinary.push_back(pid);
                break;
            case Glance::sandboxedOrUnreadable:
                if (ProcessDirectory process(pid); process.isValid())
                    lookAtSandboxed(std::move(process), socketLink, controlGroup, found);
                break;
            }
        }
        for (const pid_t pid : ordinary) {
            ProcessDirectory process(pid);
            auto holding = sandbox::findSocketIn(process, socketLink);
            found.unreadable = found.unreadable || holding.result == Holding::unreadable;
            if (holding.result != Holding::holds)
                continue;
            auto holder = describeHolder(std::move(holding), std::move(process), controlGroup);
            // A thread with a table of its own may be in a sandbox of its own.
            keepHolder(std::move(holder), found);
            if (found.ordinary)
                break;
        }
        return found;
    }

    // Also a process whose namespace cannot be read: it may be a sandbox.
    void lookAtSandboxed(ProcessDirectory process, const std::string& socketLink, std::uint64_t controlGroup, Search& found)
    {
        auto holding = sandbox::findSocketIn(process, socketLink);
        if (holding.result == Holding::unreadable || !process.mountNamespace())
            found.unreadable = true;
        if (holding.result == Holding::holds)
            keepHolder(describeHolder(std::move(holding), std::move(process), controlGroup), found);
    }

    static void keepHolder(KnownClient holder, Search& found)
    {
        if (holder.client.sandbox == Sandbox::none) {
            found.ordinary = std::move(holder);
            return;
        }
        const auto& first = found.sandboxed;
        if (first && (first->client.sandbox != holder.client.sandbox || first->client.applicationId != holder.client.applicationId))
            found.sandboxesDisagree = true;
        if (!found.sandboxed)
            found.sandboxed = std::move(holder);
    }

    // A sandbox that holds the socket speaks through it, whoever else does;
    // two different sandboxes holding one socket are not one client.
    ClientLookup remember(Search found)
    {
        if (found.sandboxesDisagree)
            found.sandboxed->client.sandbox = Sandbox::unidentified;
        auto holder = found.sandboxed ? std::move(found.sandboxed) : std::move(found.ordinary);
        if (!holder)
            return { found.unreadable ? Outcome::unreadable : Outcome::noHolder, {} };
        if (!found.sandboxesDisagree) {
            m_known.insert(m_known.begin(), *holder);
            if (m_known.size() > kMostKnownClients)
                m_known.pop_back();
        }
        return { Outcome::found, holder->client };
    }

    cgroups::ControlGroups m_groups;
    std::vector<KnownClient> m_known;
};

} // namespace

std::unique_ptr<ClientProcesses> makeClientProcesses() { return std::make_unique<LinuxClientProcesses>(); }

} // namespace platform
