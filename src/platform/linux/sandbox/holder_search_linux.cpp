#include "platform/linux/sandbox/holder_search.h"

#include "platform/linux/kernel_tables/proc_entries.h"
#include "platform/linux/sandbox/client_process_handle.h"
#include "platform/linux/sandbox/descriptor_carriers.h"
#include "platform/linux/sandbox/sandbox_of_process.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

namespace platform::sandbox {

namespace {

using Holding = SocketHolding::Result;
using Outcome = ClientLookup::Outcome;
using Sandbox = ClientProcess::Sandbox;

// What a look at a process's /proc entry tells, before its descriptors are
// read: most are ordinary processes that may never need reading.
enum class Glance {
    notOurs,
    ordinary,
    // In another mount namespace, or one whose namespace we may not read.
    sandboxedOrUnreadable,
};

struct Ours {
    uid_t user { getuid() };
    procfs::Reading<ino_t> mountNamespace { ProcessDirectory(getpid()).mountNamespace() };
    procfs::Reading<std::size_t> pidNamespaceDepth { ProcessDirectory(getpid()).pidNamespaceDepth() };
};

const Ours& ours()
{
    static const Ours kOurs;
    return kOurs;
}

// A process of ours that we may not look into: one that made itself
// unreadable (it shows as root's), or one with privileges we lack (a PAM
// session's keeper, say). It may be a sandbox when it runs in a PID
// namespace below ours, as every Flatpak does, or when even that cannot be
// told; then it vetoes whatever else holds the socket.
void noteUnreadable(const ProcessDirectory& process, HolderSearch& found)
{
    const auto depth = process.pidNamespaceDepth();
    if (depth.gone())
        return;
    found.unreadable = true;
    if (!depth || !ours().pidNamespaceDepth || *depth != *ours().pidNamespaceDepth)
        found.vetoed = true;
}

Glance glanceAt(pid_t pid, HolderSearch& found)
{
    const auto entry = "/proc/" + std::to_string(pid);
    struct stat status = {};
    if (stat(entry.c_str(), &status) != 0)
        return Glance::notOurs;
    if (status.st_uid != ours().user) {
        if (status.st_uid == 0 && procfs::realUserID(pid).holds(ours().user))
            noteUnreadable(ProcessDirectory(pid), found);
        return Glance::notOurs;
    }
    struct stat view = {};
    if (stat((entry + "/ns/mnt").c_str(), &view) == 0 && ours().mountNamespace && view.st_ino == *ours().mountNamespace)
        return Glance::ordinary;
    return Glance::sandboxedOrUnreadable;
}

FoundHolder describeHolder(SocketHolding holding, ProcessDirectory process)
{
    auto task = holding.thread ? std::move(*holding.thread) : std::move(process);
    auto client = inOtherMountNamespace(task) ? identityOf(task) : ClientProcess { Sandbox::none, task.id(), {}, nullptr };
    client.process = task.id();
    return { std::move(client), std::make_shared<const ProcessDirectory>(std::move(task)), holding.descriptor };
}

void keepHolder(FoundHolder holder, HolderSearch& found)
{
    if (holder.client.sandbox == Sandbox::none) {
        if (!found.ordinary)
            found.ordinary = std::move(holder);
        return;
    }
    const auto& first = found.sandboxed;
    if (first && (first->client.sandbox != holder.client.sandbox || first->client.applicationId != holder.client.applicationId))
        found.sandboxesDisagree = true;
    if (!found.sandboxed)
        found.sandboxed = std::move(holder);
}

// Whether the process holds the socket in a way that counts; notes what
// else it learnt.
bool lookInto(ProcessDirectory process, const std::string& socketLink, Deadline deadline, HolderSearch& found)
{
    if (!process.isValid())
        return false;
    auto holding = findSocketIn(process, socketLink, deadline);
    switch (holding.result) {
    case Holding::timedOut:
        found.timedOut = true;
        return false;
    case Holding::unreadable:
        noteUnreadable(process, found);
        return false;
    case Holding::doesNotHold:
        return false;
    case Holding::holds:
        break;
    }
    const auto& task = holding.thread ? *holding.thread : process;
    if (carriesDescriptorsForOthers(task))
        return false;
    keepHolder(describeHolder(std::move(holding), std::move(process)), found);
    return true;
}

} // namespace

HolderSearch searchHolders(std::vector<pid_t> candidates, const std::string& socketLink, Deadline deadline)
{
    HolderSearch found;
    std::vector<pid_t> ordinary;
    std::sort(candidates.begin(), candidates.end(), std::greater<> {});
    for (const pid_t pid : candidates) {
        if (std::chrono::steady_clock::now() > deadline)
            found.timedOut = true;
        if (found.timedOut)
            return found;
        switch (glanceAt(pid, found)) {
        case Glance::notOurs:
            break;
        case Glance::ordinary:
            ordinary.push_back(pid);
            break;
        case Glance::sandboxedOrUnreadable:
            lookInto(ProcessDirectory(pid), socketLink, deadline, found);
            break;
        }
    }
    // A sandbox holding it speaks through it whatever ordinary process
    // holds it too, and a veto stands whatever they hold.
    if (found.sandboxed || found.vetoed)
        return found;
    for (const pid_t pid : ordinary) {
        // A thread with a table of its own may be in a sandbox of its own,
        // so a holder found here may still be a sandboxed one.
        if (lookInto(ProcessDirectory(pid), socketLink, deadline, found) && found.ordinary)
            break;
        if (found.timedOut)
            break;
    }
    return found;
}

const std::optional<FoundHolder>& chosenHolder(const HolderSearch& found) { return found.sandboxed ? found.sandboxed : found.ordinary; }

ClientLookup conclude(const HolderSearch& found, std::uint64_t controlGroup)
{
    if (found.timedOut)
        return { Outcome::timedOut, {} };
    if (found.vetoed)
        return { Outcome::unreadable, {} };
    const auto& holder = chosenHolder(found);
    if (!holder)
        return { found.unreadable ? Outcome::unreadable : Outcome::noHolder, {} };
    auto client = holder->client;
    if (found.sandboxesDisagree)
        client.sandbox = Sandbox::unidentified;
    client.handle = std::make_shared<const ClientProcessHandle>(holder->task, holder->descriptor, controlGroup);
    return { Outcome::found, std::move(client) };
}

} // namespace platform::sandbox
