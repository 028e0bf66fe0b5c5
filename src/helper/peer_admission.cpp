#include "helper/peer_admission.h"

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
