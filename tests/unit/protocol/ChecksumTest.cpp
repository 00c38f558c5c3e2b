#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include <ferrolink/protocol/NetworkHelper.h>
#include "support/LogCapture.h"

namespace {

// Straightforward reference: negated sum of whole big-endian words.
uint32_t ReferenceChecksum(const unsigned char* p, int length) {
    uint32_t sum = 0;
    for (int i = 0; i + 4 <= length; i += 4)
        sum += (uint32_t{p[i]} << 24) | (uint32_t{p[i + 1]} << 16) | (uint32_t{p[i + 2]} << 8) |
               p[i + 3];
    return 0u - sum;
}

TEST(ChecksumTest, MatchesReferenceAtEveryLengthAndAlignment) {
    std::mt19937 rng(42);
    std::vector<unsigned char> data(9000 + 16);
    for (auto& b : data) b = static_cast<unsigned char>(rng());
    for (int offset = 0; offset < 4; ++offset) {
        for (int length = 0; length <= 1600; ++length)
            ASSERT_EQ(ReferenceChecksum(data.data() + offset, length),
                      CNetworkHelper::CheckSum_Get(data.data() + offset, length))
                << "offset " << offset << " length " << length;
    }
    // Long blocks cross the vector accumulators' flush points.
    for (int length : {4096, 4100, 8188, 8192, 9000})
        ASSERT_EQ(ReferenceChecksum(data.data(), length),
                  CNetworkHelper::CheckSum_Get(data.data(), length));
}

TEST(ChecksumTest, SaturatedBytesDoNotOverflowTheAccumulators) {
    std::vector<unsigned char> ff(65536, 0xFF);
    for (int length : {16, 4096, 4112, 65536})
        EXPECT_EQ(ReferenceChecksum(ff.data(), length), CNetworkHelper::CheckSum_Get(ff.data(), length));
}

TEST(ChecksumTest, ValidationAndShortBlocks) {
    const unsigned char zeros[8] = {};
    EXPECT_EQ(0u, CNetworkHelper::CheckSum_Get(zeros, 8));
    EXPECT_EQ(0u, CNetworkHelper::CheckSum_Get(zeros, 3));
    EXPECT_EQ(0u, CNetworkHelper::CheckSum_Get(zeros, -4));
    EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(nullptr, 3));

    // Below 4 bytes everything is valid; 5 to 7 bytes are judged on the first word alone.
    const unsigned char one[7] = {0, 0, 0, 1, 0xFF, 0xFF, 0xFF};
    EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(one, 3));
    EXPECT_FALSE(CNetworkHelper::IsValidCheckSum(one, 7));
    const unsigned char sumsToZero[7] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 1};
    EXPECT_FALSE(CNetworkHelper::IsValidCheckSum(sumsToZero, 7));
    const unsigned char pair[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1};
    EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(pair, 8));
    EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(pair, 9 - 1));
}

TEST(ChecksumTest, NullBlockWithLengthIsRefused) {
    CLogCapture log;
    EXPECT_EQ(0u, CNetworkHelper::CheckSum_Get(nullptr, 16));
    EXPECT_FALSE(CNetworkHelper::IsValidCheckSum(nullptr, 16));
    EXPECT_EQ(2, log.Count("failure", 2));
}

TEST(ChecksumTest, MisalignedCapacityPutsChecksumOverPrecedingWordsOnly) {
    // Capacity 61: frame of 89 bytes, checksum at offset 85 over the first 21 words.
    std::vector<unsigned char> data(61, 0x3C);
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(CNetworkHelper::PreparePacket(0, 1, 2, data.data(), 61, 61, PaddingValue_Zero,
                                              frame));
    ASSERT_EQ(89, frame.m_count);
    const uint32_t expected = ReferenceChecksum(frame.m_pBuffer, 84);
    const uint32_t stored = (uint32_t{frame.m_pBuffer[85]} << 24) |
                            (uint32_t{frame.m_pBuffer[86]} << 16) |
                            (uint32_t{frame.m_pBuffer[87]} << 8) | frame.m_pBuffer[88];
    EXPECT_EQ(expected, stored);
    EXPECT_FALSE(CNetworkHelper::IsValidCheckSum(frame.m_pBuffer, frame.m_count));
}

}  // namespace
