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

} // namespace
