#include <gtest/gtest.h>

#include <cstring>

#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include "support/LogCapture.h"

namespace {

const unsigned char kDefaultBoardMac[6] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};

SBufferData<unsigned char> Bytes(std::initializer_list<unsigned char> bytes) {
    SBufferData<unsigned char> b;
    b.AllocateBuffer(static_cast<int>(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), b.m_pBuffer);
    return b;
}

class ConstValueTest : public ::testing::Test {
protected:
    void TearDown() override {
        SBufferData<unsigned char> mac = Bytes({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
        CConstValue::BoardMac_Set(mac);
        CConstValue::SetFrameMaximumSize(1496);
    }
};

TEST_F(ConstValueTest, BoardMacSetRefusesWrongLengthsAndKeepsAddress) {
    CLogCapture log;
    for (int n : {0, 5, 7}) {
        SBufferData<unsigned char> mac;
        mac.AllocateBuffer(n);
        if (n) std::memset(mac.m_pBuffer, 0xEE, static_cast<size_t>(n));
        EXPECT_FALSE(CConstValue::BoardMac_Set(mac)) << n;
        EXPECT_EQ(0, std::memcmp(CConstValue::BoardMac_Get(), kDefaultBoardMac, 6)) << n;
    }
    EXPECT_EQ(3, log.Count("failure", 2));

    SBufferData<unsigned char> mac = Bytes({1, 2, 3, 4, 5, 6});
    EXPECT_TRUE(CConstValue::BoardMac_Set(mac));
    const unsigned char expected[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(0, std::memcmp(CConstValue::BoardMac_Get(), expected, 6));
}

TEST_F(ConstValueTest, FirstByteUpdateReachesBuiltFramesAndBoardMacTest) {
    const unsigned char* seen = CConstValue::BoardMac_Get();
    ASSERT_TRUE(CConstValue::BoardMac_FirstByte_Update(0x56));
    const unsigned char expected[6] = {0x56, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    EXPECT_EQ(0, std::memcmp(seen, expected, 6)) << "pointer must follow later changes";
    EXPECT_TRUE(CNetworkHelper::IsBoardMac(expected));
    EXPECT_FALSE(CNetworkHelper::IsBoardMac(kDefaultBoardMac));

    SBufferData<unsigned char> frame;
    ASSERT_TRUE(CNetworkHelper::PreparePacket_Print(1, 0, PaddingValue_Zero, 3,
                                                    reinterpret_cast<const unsigned char*>("abc"),
                                                    3, frame));
    EXPECT_EQ(0, std::memcmp(frame.m_pBuffer, expected, 6));
}

TEST_F(ConstValueTest, FrameMaximumSizeIsStoredUncheckedAndDrivesDataMaximum) {
    EXPECT_EQ(1468, CConstValue::GetFrameActualPrintDataMaximizeSize());
    CConstValue::SetFrameMaximumSize(2000);
    EXPECT_EQ(2000, CConstValue::GetFrameMaximumSize());
    EXPECT_EQ(1972, CConstValue::GetFrameActualPrintDataMaximizeSize());
    CConstValue::SetFrameMaximumSize(10);
    EXPECT_EQ(-18, CConstValue::GetFrameActualPrintDataMaximizeSize());
}

TEST_F(ConstValueTest, PcMacComparesAllSixBytes) {
    unsigned char mac[6];
    std::memcpy(mac, CConstValue::GetPcMac(), 6);
    EXPECT_TRUE(CConstValue::IsPcMac(mac));
    mac[5] ^= 1;
    EXPECT_FALSE(CConstValue::IsPcMac(mac));
    mac[5] ^= 1;
    mac[0] ^= 0x80;
    EXPECT_FALSE(CConstValue::IsPcMac(mac));
}

}  // namespace
