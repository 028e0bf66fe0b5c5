#include "helper/peer_admission.h"

#include <algorithm>

bool admitsPeer(const platform::PeerSocketLookup& peer, platform::UserId helperUser)
{
    using Outcome = platform::PeerSocketLookup::Outcome;
    switch (peer.outcome) {
    case Outcome::found:
        return peer.owner == helperUser;
    case Outcome::notFound:
    case Outcome::unavailable:
        return false;
    case Outcome::unsupported:
        return true;
    }
    return false;
}

namespace {

ClientAdmission admitsFound(const platform::ClientProcess& client, std::span<const std::string> servedApplications)
{
    using Sandbox = platform::ClientProcess::Sandbox;
    const auto listed = std::ranges::find(servedApplications, client.applicationId) != servedApplications.end();
    switch (client.sandbox) {
    case Sandbox::none:
    case Sandbox::container:
        return { true, {} };
    case Sandbox::flatpak:
        if (client.applicationId == kMainApplicationId || listed)
            return { true, {} };
        return { false, "Refused a connection from the sandboxed application " + client.applicationId };
    case Sandbox::snap:
        if (listed)
            return { true, {} };
        return { false, "Refused a connection from the snap " + client.applicationId };
    case Sandbox::unidentified:
        break;
    }
    return { false, "Refused a connection from a sandbox that does not say what it is" };
}

} // namespace

ClientAdmission admitsClient(const platform::ClientLookup& lookup, std::span<const std::string> servedApplications)
{
    using Outcome = platform::ClientLookup::Outcome;
    switch (lookup.outcome) {
    case Outcome::found:
        return admitsFound(lookup.client, servedApplications);
    case Outcome::noHolder:
        return { false, "Refused a connection that no process of this user it can see holds" };
    case Outcome::unreadable:
        return { false, "Refused a connection that may be held by a process it cannot look at" };
    case Outcome::groupGone:
        return { false, "Refused a connection made in a control group that has gone since" };
    case Outcome::timedOut:
        return { false, "Refused a connection whose client could not be told in time" };
    case Outcome::failed:
        break;
    }
    return { false, "Refused a connection whose process could not be looked up" };
}
