#include "helper/peer_admission.h"

bool admitsPeer(const platform::PeerSocketLookup& peer, uid_t helperUser)
{
    using Outcome = platform::PeerSocketLookup::Outcome;
    switch (peer.outcome) {
    case Outcome::found:
        return peer.owner == helperUser;
    case Outcome::notFound:
        return false;
    case Outcome::unavailable:
        return true;
    }
    return false;
}
