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

bool admitsClient(const platform::ClientProcess& client, std::span<const std::string> servedApplications)
{
    using Sandbox = platform::ClientProcess::Sandbox;
    const auto listed = std::ranges::find(servedApplications, client.applicationId) != servedApplications.end();
    switch (client.sandbox) {
    case Sandbox::none:
    case Sandbox::container:
        return true;
    case Sandbox::flatpak:
        return client.applicationId == kMainApplicationId || listed;
    case Sandbox::snap:
        return listed;
    }
    return false;
}
