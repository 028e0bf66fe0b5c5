#pragma once

#include "platform/socket_peer.h"

#include <sys/types.h>

// Loopback is open to every user of the machine, but the helper acts for its
// own user only. A connection is served when its peer's socket belongs to
// that user. A peer that is already gone is refused: it would read nothing.
// When the system gives no way at all to learn the owner, the connection is
// served, since refusing it would end the service for the helper's own user
// on such a system while protecting nothing that the port did not expose
// before.
bool admitsPeer(const platform::PeerSocketLookup& peer, uid_t helperUser);
