#pragma once

#include "platform/socket_peer.h"

// Loopback is open to every user of the machine, but the helper acts for its
// own user only. A connection is served when its peer's socket belongs to
// that user. A peer that is already gone is refused: it would read nothing.
// So is one whose owner could not be learnt this time: a shortage of the
// moment, which another user can bring about, must not open the door.
// Only when the system gives no way at all to learn owners, as found once at
// start, is every connection served, since refusing them would end the
// service for the helper's own user on such a system while protecting
// nothing that the port did not expose before.
bool admitsPeer(const platform::PeerSocketLookup& peer, platform::UserId helperUser);
