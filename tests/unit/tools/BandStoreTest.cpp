// The board's judgement of a band at EndOfBand: completeness, the resend index, the two resend
// bits, replacement by duplicates, and the band's bytes as the host meant them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board-sim/BandStore.h"
#include "common/BoardProtocol.h"
#include "common/Sha256.h"

namespace ferrolink::tools {
namespace {

// A data area of `capacity` bytes whose first `used` bytes are the packet's data (value `seed`
// + position) and whose rest is padding the board must never take into the band.
std::vector<unsigned char> Area(int capacity, int used, int seed) {
    std::vector<unsigned char> area(static_cast<std::size_t>(capacity), 0xEE);
    for (int i = 0; i < used; ++i)
        area[static_cast<std::size_t>(i)] = static_cast<unsigned char>(seed + i);
    return area;
}

std::string Sha(const std::vector<unsigned char>& bytes) {
    return CSha256::Hex(bytes.data(), bytes.size());
}

class BandStoreTest : public ::testing::Test {
protected:
    void Store(std::uint32_t band, std::uint32_t packet, const std::vector<unsigned char>& area) {
        ASSERT_EQ(EStoreResult::Stored,
                  m_store.StorePacket(band, packet, area.data(), static_cast<int>(area.size())));
    }
    CBandStore m_store{CBandStore::kMaximumPacketIndex};
};

TEST_F(BandStoreTest, CompleteBandIsCutToPacketSizeAndBandBytes) {
    // Three packets of 100 used bytes in 108-byte areas; the band is 250 bytes.
    std::vector<unsigned char> expected;
    for (std::uint32_t p = 0; p < 3; ++p) {
        const auto area = Area(108, 100, 10 * static_cast<int>(p));
        Store(4, p, area);
        expected.insert(expected.end(), area.begin(), area.begin() + 100);
    }
    expected.resize(250);

    const SBandResult r = m_store.EndOfBand(4, 3, 250, 100);
    EXPECT_EQ(0u, r.m_error);
    EXPECT_TRUE(r.m_complete && r.m_completedNow);
    EXPECT_EQ(3, r.m_resendIndex);
    EXPECT_EQ(2, r.m_currentMaximum);
    EXPECT_EQ(250u, r.m_bandBytes);
    EXPECT_EQ(Sha(expected), r.m_sha256);
    EXPECT_EQ(1u, m_store.BandsCompleted());
    EXPECT_EQ(0u, m_store.PacketsHeld()) << "a printed band gives its memory back";

    // The host repeats EndOfBand when the reply was lost: same answer, not a second band.
    const SBandResult again = m_store.EndOfBand(4, 3, 250, 100);
    EXPECT_TRUE(again.m_complete);
    EXPECT_FALSE(again.m_completedNow);
    EXPECT_EQ(r.m_sha256, again.m_sha256);
    EXPECT_EQ(1u, m_store.BandsCompleted());
}

TEST_F(BandStoreTest, MissingPacketGivesLostBitAndResendIndex) {
    for (std::uint32_t p : {0u, 1u, 2u, 4u, 5u}) Store(9, p, Area(60, 60, 0));
    SBandResult r = m_store.EndOfBand(9, 6, 360, 60);
    EXPECT_EQ(kErrorLost, r.m_error) << "no checksum error was seen";
    EXPECT_EQ(3, r.m_resendIndex);
    EXPECT_EQ(2, r.m_currentMaximum);
    EXPECT_FALSE(r.m_complete);

    // The tail is missing too: the first gap decides.
    Store(9, 3, Area(60, 60, 0));
    r = m_store.EndOfBand(9, 8, 480, 60);
    EXPECT_EQ(kErrorLost, r.m_error);
    EXPECT_EQ(6, r.m_resendIndex);
    EXPECT_EQ(5, r.m_currentMaximum);

    // Nothing at all of a band.
    r = m_store.EndOfBand(77, 2, 10, 5);
    EXPECT_EQ(kErrorLost, r.m_error);
    EXPECT_EQ(0, r.m_resendIndex);
    EXPECT_EQ(-1, r.m_currentMaximum);
}

TEST_F(BandStoreTest, ChecksumBitOnlyForErrorsSinceTheBandsLastEndOfBand) {
    Store(1, 0, Area(60, 60, 0));
    m_store.NoteChecksumError();  // packet 1 arrived corrupt
    SBandResult r = m_store.EndOfBand(1, 2, 120, 60);
    EXPECT_EQ(kErrorLost | kErrorChecksum, r.m_error);
    EXPECT_EQ(1, r.m_resendIndex);

    // Nothing corrupt since: a second loss report is a plain loss.
    r = m_store.EndOfBand(1, 2, 120, 60);
    EXPECT_EQ(kErrorLost, r.m_error);

    // A band started after band 1's EndOfBand does not inherit band 1's error.
    Store(2, 1, Area(60, 60, 0));
    EXPECT_EQ(kErrorLost, m_store.EndOfBand(2, 2, 120, 60).m_error);

    // A complete band reports no error even when a frame was corrupt on the way.
    Store(3, 0, Area(60, 60, 0));
    m_store.NoteChecksumError();
    Store(3, 1, Area(60, 60, 0));
    EXPECT_EQ(0u, m_store.EndOfBand(3, 2, 120, 60).m_error);
}

TEST_F(BandStoreTest, LaterDuplicateReplacesTheEarlierPacket) {
    Store(5, 0, Area(60, 60, 1));
    Store(5, 0, Area(60, 60, 50));
    const SBandResult r = m_store.EndOfBand(5, 1, 60, 60);
    ASSERT_TRUE(r.m_complete);
    const auto second = Area(60, 60, 50);
    EXPECT_EQ(Sha(second), r.m_sha256);
    EXPECT_EQ(1u, r.m_packetsHeld);
}

TEST_F(BandStoreTest, QueryLatestBandWithoutChangingIt) {
    EXPECT_EQ(-1, m_store.Query().m_currentMaximum) << "nothing received yet";
    Store(6, 0, Area(60, 60, 0));
    Store(6, 2, Area(60, 60, 0));
    SBandResult q = m_store.Query();
    EXPECT_EQ(6u, q.m_band);
    EXPECT_EQ(kErrorLost, q.m_error) << "a gap below the highest packet is already a loss";
    EXPECT_EQ(1, q.m_resendIndex);
    EXPECT_EQ(2u, q.m_packetsHeld);
    Store(6, 1, Area(60, 60, 0));
    q = m_store.Query();
    EXPECT_EQ(0u, q.m_error);
    EXPECT_EQ(2, q.m_currentMaximum);
    EXPECT_FALSE(q.m_complete) << "only EndOfBand completes a band";
    EXPECT_EQ(0u, m_store.BandsCompleted());
}

TEST_F(BandStoreTest, FrameAfterCompletionStartsTheBandAfreshAndResetForgets) {
    Store(8, 0, Area(60, 60, 0));
    ASSERT_TRUE(m_store.EndOfBand(8, 1, 60, 60).m_complete);
    Store(8, 1, Area(60, 60, 0));
    SBandResult r = m_store.EndOfBand(8, 2, 120, 60);
    EXPECT_EQ(kErrorLost, r.m_error);
    EXPECT_EQ(0, r.m_resendIndex) << "packet 0 went with the printed band";

    m_store.NoteChecksumError();
    m_store.Reset();
    EXPECT_EQ(0u, m_store.PacketsHeld());
    EXPECT_EQ(0u, m_store.BandsCompleted());
    EXPECT_EQ(0u, m_store.Query().m_band);
    Store(8, 1, Area(60, 60, 0));
    EXPECT_EQ(kErrorLost, m_store.EndOfBand(8, 2, 120, 60).m_error)
        << "the checksum error before the reset is forgotten";
}

TEST_F(BandStoreTest, RefusesWhatWouldGrowWithoutBound) {
    const auto area = Area(60, 60, 0);
    EXPECT_EQ(EStoreResult::Refused,
              m_store.StorePacket(1, CBandStore::kMaximumPacketIndex, area.data(), 60));
    const std::vector<unsigned char> huge(CPacketPool::kSlotBytes + 1);
    EXPECT_EQ(EStoreResult::Refused,
              m_store.StorePacket(1, 0, huge.data(), static_cast<int>(huge.size())));

    CBandStore small(1024);  // one chunk of 1024 slots
    ASSERT_TRUE(small.WarmUp());
    EXPECT_FALSE(small.WarmUp()) << "all the memory is ready";
    for (std::uint32_t p = 0; p < 1024; ++p)
        ASSERT_EQ(EStoreResult::Stored, small.StorePacket(2, p, area.data(), 60));
    EXPECT_EQ(EStoreResult::MemoryFull, small.StorePacket(3, 0, area.data(), 60));
    EXPECT_EQ(EStoreResult::Stored, small.StorePacket(2, 5, area.data(), 60))
        << "a duplicate needs no new slot";
    // A printed band frees the memory for the next one.
    ASSERT_TRUE(small.EndOfBand(2, 1024, 1024 * 60, 60).m_complete);
    EXPECT_EQ(EStoreResult::Stored, small.StorePacket(3, 0, area.data(), 60));
}

}  // namespace
}  // namespace ferrolink::tools
