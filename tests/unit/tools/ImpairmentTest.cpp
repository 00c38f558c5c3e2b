// Impairment decisions: fixed by seed and direction, and close to the rates asked for.
#include <gtest/gtest.h>

#include <vector>

#include "board-sim/Impairment.h"

namespace ferrolink::tools {
namespace {

using EDirection = CImpairment::EDirection;

std::vector<SImpairmentDecision> Draw(const SImpairmentRates& rates, std::uint32_t seed,
                                      EDirection direction, int count) {
    CImpairment impairment(rates, seed, direction);
    std::vector<SImpairmentDecision> decisions;
    for (int i = 0; i < count; ++i) decisions.push_back(impairment.Next());
    return decisions;
}

bool Same(const SImpairmentDecision& a, const SImpairmentDecision& b) {
    return a.m_drop == b.m_drop && a.m_corrupt == b.m_corrupt && a.m_duplicate == b.m_duplicate &&
           a.m_reorder == b.m_reorder && a.m_delay == b.m_delay &&
           a.m_corruptPick == b.m_corruptPick;
}

TEST(ImpairmentTest, SameSeedSameDecisionsOtherSeedOrDirectionOthers) {
    SImpairmentRates rates;
    rates.m_drop = rates.m_corrupt = rates.m_duplicate = rates.m_reorder = rates.m_delay = 0.3;
    rates.m_delayMs = 5;
    const auto a = Draw(rates, 42, EDirection::Receive, 500);
    const auto b = Draw(rates, 42, EDirection::Receive, 500);
    const auto otherSeed = Draw(rates, 43, EDirection::Receive, 500);
    const auto otherDirection = Draw(rates, 42, EDirection::Send, 500);
    int same = 0, sameSeed = 0, sameDirection = 0;
    for (int i = 0; i < 500; ++i) {
        same += Same(a[i], b[i]);
        sameSeed += Same(a[i], otherSeed[i]);
        sameDirection += Same(a[i], otherDirection[i]);
    }
    EXPECT_EQ(500, same);
    EXPECT_LT(sameSeed, 10);
    EXPECT_LT(sameDirection, 10);

    // A frame's fate does not depend on the rates of the other faults: the draws are fixed.
    SImpairmentRates dropOnly;
    dropOnly.m_drop = 0.3;
    const auto d = Draw(dropOnly, 42, EDirection::Receive, 500);
    for (int i = 0; i < 500; ++i) ASSERT_EQ(a[i].m_drop, d[i].m_drop) << i;
}

TEST(ImpairmentTest, RatesAreRoughlyKept) {
    SImpairmentRates rates;
    rates.m_drop = 0.1;
    rates.m_corrupt = 0.02;
    rates.m_duplicate = 0.5;
    rates.m_reorder = 0.0;
    rates.m_delay = 0.25;
    rates.m_delayMs = 10;
    int drop = 0, corrupt = 0, duplicate = 0, reorder = 0, delay = 0;
    for (const auto& d : Draw(rates, 7, EDirection::Receive, 10000)) {
        drop += d.m_drop;
        corrupt += d.m_corrupt;
        duplicate += d.m_duplicate;
        reorder += d.m_reorder;
        delay += d.m_delay;
    }
    // Bounds of about four standard deviations.
    EXPECT_NEAR(1000, drop, 120);
    EXPECT_NEAR(200, corrupt, 60);
    EXPECT_NEAR(5000, duplicate, 200);
    EXPECT_EQ(0, reorder);
    EXPECT_NEAR(2500, delay, 175);
}

TEST(ImpairmentTest, EdgesOfTheRates) {
    SImpairmentRates none;
    none.m_delay = 1;  // without a delay time, nothing is delayed
    EXPECT_FALSE(CImpairment(none, 1, EDirection::Receive).Active());

    SImpairmentRates all;
    all.m_drop = 1;
    CImpairment always(all, 1, EDirection::Send);
    EXPECT_TRUE(always.Active());
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(always.Next().m_drop);
}

TEST(ImpairmentTest, CorruptFlipsOneBitPastTheDestination) {
    for (std::uint32_t pick : {0u, 7u, 8u, 12345u, 0xFFFFFFFFu}) {
        std::vector<unsigned char> frame(88, 0);
        CImpairment::Corrupt(frame.data(), 88, pick);
        int bits = 0;
        for (std::size_t i = 0; i < frame.size(); ++i) {
            bits += __builtin_popcount(frame[i]);
            if (frame[i]) {
                EXPECT_GE(i, 6u) << "the destination stays the board's";
            }
        }
        EXPECT_EQ(1, bits) << pick;
    }
}

}  // namespace
}  // namespace ferrolink::tools
