#include "helper/peer_admission.h"

#include <gtest/gtest.h>

namespace {

using Outcome = platform::PeerSocketLookup::Outcome;

constexpr uid_t kHelperUser = 1000;

TEST(PeerAdmission, ServesOnlyTheOwnUserAndUnknownOwnersOnlyWhereNoneCanBeKnown)
{
    struct Row {
        Outcome outcome;
        uid_t owner;
        bool admitted;
    };
    for (auto row : {
             Row { Outcome::found, kHelperUser, true },
             Row { Outcome::found, 1001, false },
             Row { Outcome::found, 0, false },
             Row { Outcome::notFound, kHelperUser, false },
             Row { Outcome::unavailable, 0, false }, // a shortage of the moment
             Row { Outcome::unsupported, 0, true }, // decided once at start
         }) {
        platform::PeerSocketLookup peer { row.outcome, row.owner, 1 };
        EXPECT_EQ(admitsPeer(peer, kHelperUser), row.admitted)
            << "outcome " << static_cast<int>(row.outcome) << ", owner " << row.owner;
    }
}

TEST(ClientAdmission, ServesSandboxesOnlyForTheMainApplicationAndTheListedOnes)
{
    using Sandbox = platform::ClientProcess::Sandbox;
    const std::vector<std::string> listed { "com.Calderine.Ferrowind3.Beta", "ferrowind" };
    struct Row {
        Sandbox sandbox;
        const char* id;
        bool admitted;
    };
    for (auto row : {
             Row { Sandbox::none, "", true },
             Row { Sandbox::container, "", true },
             Row { Sandbox::flatpak, "com.Calderine.Ferrowind3", true },
             Row { Sandbox::flatpak, "com.Calderine.Ferrowind3.Beta", true },
             Row { Sandbox::flatpak, "org.example.Game", false },
             Row { Sandbox::flatpak, "", false },
             Row { Sandbox::flatpak, "com.calderine.ferrowind3", false }, // ids are case-sensitive
             Row { Sandbox::snap, "ferrowind", true },
             Row { Sandbox::snap, "com.Calderine.Ferrowind3", false }, // a snap name is no Flatpak id
             Row { Sandbox::snap, "game", false },
         }) {
        EXPECT_EQ(admitsClient({ row.sandbox, 42, row.id }, listed), row.admitted)
            << static_cast<int>(row.sandbox) << " " << row.id;
    }
}

} // namespace
