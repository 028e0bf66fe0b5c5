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

TEST(ClientAdmission, ServesOnlyOnEvidenceOfWhoIsBehindTheConnection)
{
    using Sandbox = platform::ClientProcess::Sandbox;
    using Found = platform::ClientLookup::Outcome;
    const std::vector<std::string> listed { "com.Calderine.Ferrowind3.Beta", "ferrowind" };
    struct Row {
        Found outcome;
        Sandbox sandbox;
        const char* id;
        bool admitted;
    };
    for (auto row : {
             Row { Found::found, Sandbox::none, "", true },
             Row { Found::found, Sandbox::container, "", true },
             Row { Found::found, Sandbox::flatpak, "com.Calderine.Ferrowind3", true },
             Row { Found::found, Sandbox::flatpak, "com.Calderine.Ferrowind3.Beta", true },
             Row { Found::found, Sandbox::flatpak, "org.example.Game", false },
             Row { Found::found, Sandbox::flatpak, "", false },
             Row { Found::found, Sandbox::flatpak, "com.calderine.ferrowind3", false }, // ids are case-sensitive
             Row { Found::found, Sandbox::snap, "ferrowind", true },
             Row { Found::found, Sandbox::snap, "com.Calderine.Ferrowind3", false }, // a snap name is no Flatpak id
             Row { Found::found, Sandbox::snap, "game", false },
             Row { Found::found, Sandbox::unidentified, "com.Calderine.Ferrowind3", false },
             // No evidence, whatever else was seen.
             Row { Found::noHolder, Sandbox::none, "", false },
             Row { Found::unreadable, Sandbox::none, "", false },
             Row { Found::groupGone, Sandbox::none, "", false },
             Row { Found::timedOut, Sandbox::none, "", false },
             Row { Found::failed, Sandbox::none, "", false },
         }) {
        const auto admission = admitsClient({ row.outcome, { row.sandbox, 42, row.id, nullptr } }, listed);
        EXPECT_EQ(admission.admitted, row.admitted) << static_cast<int>(row.outcome) << " " << static_cast<int>(row.sandbox) << " " << row.id;
        EXPECT_EQ(admission.refusal.empty(), row.admitted) << admission.refusal;
    }
}

} // namespace
