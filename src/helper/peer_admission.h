#pragma once

#include "platform/client_process.h"
#include "platform/socket_peer.h"

#include <span>
#include <string>
#include <string_view>

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

// Every Flatpak or snap application of the user that may use the network
// reaches the port, but only the main application is meant to command the
// helper: ending processes, powering off and looking at paths its sandbox
// hides are what other sandboxed applications must not get. So a connection
// of our user is served only on evidence of who is behind it: a Flatpak
// application whose id is the main application's or one of
// `servedApplications` (a beta's id, say), a snap whose name is one of them,
// a container of the user that says what it is (toolbox, podman), or a
// process of the user in no sandbox. A socket held by no process we can
// see (passed on in a message) or only by a daemon that carries descriptors
// for others, one made in a group that has gone, a process that cannot be
// looked at and a sandbox that does not say what it is are not evidence:
// refused. So is a client that could not be told within the bound.
struct ClientAdmission {
    bool admitted { false };
    // For the log: why it was refused, naming the application where known.
    std::string refusal;
};
ClientAdmission admitsClient(const platform::ClientLookup& lookup, std::span<const std::string> servedApplications);

// The Info.plist key that lists further Flatpak application ids and snap
// names to serve.
inline constexpr std::string_view kServedSandboxedApplicationsKey = "FWServedSandboxedApplications";
inline constexpr std::string_view kMainApplicationId = "com.Calderine.Ferrowind3";
