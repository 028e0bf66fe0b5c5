#include "helper/peer_admission.h"

#include <gtest/gtest.h>

namespace {

using Outcome = platform::PeerSocketLookup::Outcome;

TEST(PeerAdmission, ServesOnlyTheHelpersOwnUserAndServesWhenOwnersCannotBeKnown)
{
    EXPECT_TRUE(admitsPeer({ Outcome::found, 1000, 42 }, 1000));
    EXPECT_FALSE(admitsPeer({ Outcome::found, 1001, 42 }, 1000));
    EXPECT_FALSE(admitsPeer({ Outcome::found, 0, 42 }, 1000));
    EXPECT_FALSE(admitsPeer({ Outcome::notFound, 1000, 0 }, 1000));
    EXPECT_TRUE(admitsPeer({ Outcome::unavailable, 0, 0 }, 1000));
}

} // namespace
