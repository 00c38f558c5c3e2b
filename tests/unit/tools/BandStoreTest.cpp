// The board's judgement of a band at EndOfBand (completeness, the resend index, the two resend
// bits, replacement by duplicates, the band's bytes as the host meant them) and the digest, made
// on the digest thread, that shows those bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "board-sim/BandStore.h"
#include "common/BoardProtocol.h"
#include "common/Sha256.h"

namespace ferrolink::tools {
namespace {

using Bytes = std::vector<unsigned char>;

// A data area of `capacity` bytes whose first `used` bytes are the packet's data (value `seed`
// + position) and whose rest is padding the board must never take into the band.
Bytes Area(int capacity = 60, int used = 60, int seed = 0) {
    Bytes area(static_cast<std::size_t>(capacity), 0xEE);
    for (int i = 0; i < used; ++i)
        area[static_cast<std::size_t>(i)] = static_cast<unsigned char>(seed + i);
    return area;
}

class BandStoreTest : public ::testing::Test {
protected:
    void Store(std::uint32_t band, std::uint32_t packet, const Bytes& area = Area()) {
        ASSERT_EQ(EStoreResult::Stored,
                  m_store.StorePacket(band, packet, area.data(), static_cast<int>(area.size())));
    }
    // What the board reports of a band: error word, resend index, current maximum, packets held.
    using Verdict = std::tuple<std::uint32_t, std::int32_t, std::int32_t, std::uint32_t>;
    static Verdict Of(const SBandResult& r) {
        return {r.m_error, r.m_resendIndex, r.m_currentMaximum, r.m_packetsHeld};
    }
    static std::string Sha(const Bytes& bytes) { return CSha256::Hex(bytes.data(), bytes.size()); }
    // Hands the band over and waits for its digest; empty when it was not handed over.
    std::string Digest(std::uint32_t band) {
        if (!m_store.Digest(band)) return "";
        const std::vector<SDigestedBand> done = m_store.Digested(true);
        EXPECT_EQ(1u, done.size());
        return done.empty() ? "" : done.back().m_sha256;
    }
    CBandStore m_store{CBandStore::kMaximumPacketIndex};
};

TEST_F(BandStoreTest, CompleteBandIsCutToPacketSizeAndBandBytes) {
    // Three packets of 100 used bytes in 108-byte areas; the band is 250 bytes.
    Bytes expected;
    for (std::uint32_t p = 0; p < 3; ++p) {
        const Bytes area = Area(108, 100, 10 * static_cast<int>(p));
        Store(4, p, area);
        expected.insert(expected.end(), area.begin(), area.begin() + 100);
    }
    expected.resize(250);
    const SBandResult r = m_store.EndOfBand(4, 3, 250, 100);
    EXPECT_EQ(Verdict(0, 3, 2, 3), Of(r));
    EXPECT_TRUE(r.m_complete && r.m_completedNow && r.m_bandBytes == 250);
    EXPECT_NE(0u, m_store.SlotsInUse()) << "held until digested, after the answer";
    EXPECT_EQ(Sha(expected), Digest(4));
    EXPECT_EQ("", Digest(4)) << "digested once";
    EXPECT_EQ(0u, m_store.SlotsInUse()) << "a printed band gives its memory back";

    // The host repeats EndOfBand when the reply was lost: same answer, not a second band.
    const SBandResult again = m_store.EndOfBand(4, 3, 250, 100);
    EXPECT_EQ(Of(r), Of(again));
    EXPECT_TRUE(again.m_complete && !again.m_completedNow);
    EXPECT_EQ(Sha(expected), again.m_sha256);
    EXPECT_EQ(1u, m_store.BandsCompleted());
}

TEST_F(BandStoreTest, FirstMissingPacketGivesTheLostBitAndTheResendIndex) {
    for (std::uint32_t p : {0u, 1u, 2u, 4u, 5u}) Store(9, p);
    EXPECT_EQ(Verdict(kErrorLost, 3, 2, 5), Of(m_store.EndOfBand(9, 6, 360, 60)));
    Store(9, 3);  // now only the tail is missing
    EXPECT_EQ(Verdict(kErrorLost, 6, 5, 6), Of(m_store.EndOfBand(9, 8, 480, 60)));
    EXPECT_EQ(Verdict(kErrorLost, 0, -1, 0), Of(m_store.EndOfBand(77, 2, 10, 5))) << "none of it";
    // Bands in flight side by side: each is asked about by its number, the latest by default.
    EXPECT_EQ(Verdict(kErrorLost, 6, 5, 6), Of(m_store.Query(9)));
    EXPECT_EQ(77u, m_store.Query(12345).m_band);
    EXPECT_FALSE(m_store.EndOfBand(78, 0, 0, 60).m_complete) << "no packets, nothing printed";
}

TEST_F(BandStoreTest, ChecksumBitOnlyForErrorsSinceTheBandsLastEndOfBand) {
    Store(1, 0);
    m_store.NoteChecksumError();  // packet 1 arrived corrupt
    EXPECT_EQ(kErrorLost | kErrorChecksum, m_store.EndOfBand(1, 2, 120, 60).m_error);
    EXPECT_EQ(kErrorLost, m_store.EndOfBand(1, 2, 120, 60).m_error) << "nothing corrupt since";
    Store(2, 1);
    EXPECT_EQ(kErrorLost, m_store.EndOfBand(2, 2, 120, 60).m_error)
        << "a band started after band 1's EndOfBand does not inherit its error";
    Store(3, 0);
    m_store.NoteChecksumError();
    Store(3, 1);
    EXPECT_EQ(0u, m_store.EndOfBand(3, 2, 120, 60).m_error) << "complete despite a corrupt frame";
}

TEST_F(BandStoreTest, DuplicatesReplaceQueryChangesNothingAndAFrameAfterCompletionStartsAfresh) {
    EXPECT_EQ(-1, m_store.Query().m_currentMaximum) << "nothing received yet";
    Store(6, 0, Area(60, 60, 1));
    Store(6, 2);
    EXPECT_EQ(Verdict(kErrorLost, 1, 0, 2), Of(m_store.Query())) << "a gap is already a loss";
    Store(6, 1);
    Store(6, 0, Area(60, 60, 50));  // replaces the first packet 0
    EXPECT_EQ(Verdict(0, 3, 2, 3), Of(m_store.Query()));
    EXPECT_FALSE(m_store.Query().m_complete) << "only EndOfBand completes a band";
    Bytes band = Area(60, 60, 50), other = Area();
    for (int p = 1; p <= 2; ++p) band.insert(band.end(), other.begin(), other.end());
    EXPECT_TRUE(m_store.EndOfBand(6, 3, 180, 60).m_completedNow);
    EXPECT_EQ(Sha(band), Digest(6));

    Store(6, 1);
    EXPECT_EQ(Verdict(kErrorLost, 0, -1, 1), Of(m_store.EndOfBand(6, 2, 120, 60)))
        << "packet 0 went with the printed band";
    m_store.NoteChecksumError();
    m_store.Reset();
    EXPECT_EQ(
        std::make_tuple(0u, 0u, 0u),
        std::make_tuple(m_store.SlotsInUse(), m_store.BandsCompleted(), m_store.Query().m_band));
    Store(6, 1);
    EXPECT_EQ(kErrorLost, m_store.EndOfBand(6, 2, 120, 60).m_error)
        << "the checksum error before the reset is forgotten";
}

TEST_F(BandStoreTest, WhatAFrameCanGrowStaysWithinTheBoardMemory) {
    const Bytes area = Area(), huge(CPacketPool::kSlotBytes + 1);
    EXPECT_EQ(EStoreResult::Refused,
              m_store.StorePacket(1, CBandStore::kMaximumPacketIndex, area.data(), 60));
    EXPECT_EQ(EStoreResult::Refused,
              m_store.StorePacket(1, 0, huge.data(), static_cast<int>(huge.size())));

    // The highest index costs a directory, a table and a data slot, not a table of 2^20 entries;
    // 4 MiB of board memory (2048 slots) runs out after 682 such bands, and says so.
    CBandStore small(2048);
    const std::uint32_t last = CBandStore::kMaximumPacketIndex - 1;
    std::uint32_t band = 0;
    while (small.StorePacket(band, last, area.data(), 60) == EStoreResult::Stored) ++band;
    EXPECT_EQ(682u, band);
    EXPECT_LE(small.SlotsInUse(), 2048u);
    EXPECT_EQ(Verdict(kErrorLost, 0, -1, 1), Of(small.EndOfBand(0, last + 1, 0, 60)));
    small.Reset();
    EXPECT_EQ(0u, small.SlotsInUse());

    // The memory of bands being digested comes back to the bands after them: a board of one
    // chunk (1024 slots) takes band after band of 1000 packets (and their 9 table slots), in
    // order, instead of calling itself full.
    CBandStore one(1024);
    for (std::uint32_t b = 0; b < 4; ++b) {
        for (std::uint32_t p = 0; p < 1000; ++p)
            ASSERT_EQ(EStoreResult::Stored, one.StorePacket(b, p, area.data(), 60)) << b;
        ASSERT_TRUE(one.EndOfBand(b, 1000, 60000, 60).m_completedNow);
        ASSERT_TRUE(one.Digest(b));
    }
    std::vector<std::uint32_t> order;
    for (const SDigestedBand& done : one.Digested(true)) order.push_back(done.m_band);
    EXPECT_EQ((std::vector<std::uint32_t>{0, 1, 2, 3}), order);
    EXPECT_EQ(0u, one.SlotsInUse());

    // A flood of commands for bands never sent keeps a bounded number of band records, and the
    // bands that hold packets are never the ones forgotten.
    small.StorePacket(7, 0, area.data(), 60);
    for (std::uint32_t b = 100; b < 100 + 3 * CBandStore::kMaximumBands; ++b)
        EXPECT_EQ(kErrorLost, small.EndOfBand(b, 1, 60, 60).m_error);
    EXPECT_EQ(CBandStore::kMaximumBands, small.BandsKnown());
    EXPECT_EQ(Verdict(kErrorLost, 1, 0, 1), Of(small.EndOfBand(7, 2, 120, 60)));
}

// The digest in pieces is compared with the one-block digest by the band tests above.
TEST(Sha256Test, OneBlockDigestIsLowerCaseHex) {
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
              CSha256::Hex(reinterpret_cast<const unsigned char*>("abc"), 3));
}

}  // namespace
}  // namespace ferrolink::tools
