#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/PacketDataWrapper.h>
#include "support/LogCapture.h"

namespace {

SBufferData<unsigned char> WorkedExample() {
    SBufferData<unsigned char> frame;
    CNetworkHelper::PreparePacket_Print(1, 0, PaddingValue_Zero, 3,
                                        reinterpret_cast<const unsigned char*>("abc"), 3, frame);
    return frame;
}

TEST(FrameParseTest, WorkedExampleParsesToHeaderAndDataArea) {
    SBufferData<unsigned char> frame = WorkedExample();
    CPacketDataWrapper w;
    ASSERT_TRUE(w.InitializeByFrameData(frame.m_pBuffer, static_cast<uint32_t>(frame.m_count)));
    const SPacketData& d = w.PacketData();
    EXPECT_EQ(0, std::memcmp(d.destinationMac, frame.m_pBuffer, 6));
    EXPECT_EQ(0, std::memcmp(d.sourceMac, frame.m_pBuffer + 6, 6));
    EXPECT_EQ(88, d.frameLength);
    EXPECT_EQ(0, d.dataSymbol);
    EXPECT_EQ(1u, d.frameIndex);
    EXPECT_EQ(0u, d.packetIndex);
    ASSERT_EQ(60, d.actualDataLen);
    EXPECT_EQ(0, std::memcmp(d.actualData, "abc", 3));
    for (int i = 3; i < 60; ++i) EXPECT_EQ(0, d.actualData[i]) << i;
    EXPECT_NE(frame.m_pBuffer + 24, d.actualData) << "the record owns a copy";
}

TEST(FrameParseTest, MultiByteFieldsAreConvertedFromBigEndian) {
    unsigned char f[32] = {};
    const unsigned char header[12] = {0x05, 0xDC, 0xAB, 0xCD, 0x01, 0x02,
                                      0x03, 0x04, 0xF0, 0xE0, 0xD0, 0xC0};
    std::memcpy(f + 12, header, sizeof header);
    SPacketData d{};
    ASSERT_TRUE(CPacketDataWrapper::FrameData2PacketData(f, sizeof f, d));
    EXPECT_EQ(0x05DC, d.frameLength) << "stored as received, not checked against 32";
    EXPECT_EQ(0xABCD, d.dataSymbol);
    EXPECT_EQ(0x01020304u, d.frameIndex);
    EXPECT_EQ(0xF0E0D0C0u, d.packetIndex);
    EXPECT_EQ(4, d.actualDataLen);
    delete[] d.actualData;
}

TEST(FrameParseTest, ShortFramesAreRefusedWithTwoRecords) {
    std::vector<unsigned char> f(40, 0x77);
    {
        CLogCapture log;
        CPacketDataWrapper w;
        ASSERT_TRUE(w.InitializeByFrameData(f.data(), 40));
        const uint32_t before = w.PacketData().frameIndex;
        std::vector<unsigned char> other(23, 0x11);
        EXPECT_FALSE(w.InitializeByFrameData(other.data(), 23));
        EXPECT_EQ(2, log.Count("failure", 2));
        EXPECT_EQ(before, w.PacketData().frameIndex) << "header unchanged";
    }
    for (uint32_t length : {24u, 27u, 28u}) {
        CLogCapture log;
        std::vector<unsigned char> g(length, 0x22);
        CPacketDataWrapper w;
        EXPECT_FALSE(w.InitializeByFrameData(g.data(), length)) << length;
        EXPECT_EQ(2, log.Count("failure", 2)) << length;
        EXPECT_EQ(0x22222222u, w.PacketData().frameIndex) << "header filled in by step one";
        EXPECT_EQ(nullptr, w.PacketData().actualData);
    }
    CLogCapture log;
    SPacketData d{};
    EXPECT_FALSE(CPacketDataWrapper::FrameData2PacketData(nullptr, 100, d));
    EXPECT_EQ(2, log.Count("failure", 2));
}

TEST(FrameParseTest, DataAreaLimit) {
    std::vector<unsigned char> big(102428, 0x01);
    CPacketDataWrapper w;
    EXPECT_FALSE(w.InitializeByFrameData(big.data(), 102428));
    EXPECT_TRUE(w.InitializeByFrameData(big.data(), 102427));
    EXPECT_EQ(102399, w.PacketData().actualDataLen);
}

TEST(FrameParseTest, ReparseAndCloneKeepOneOwnerPerBlock) {
    SBufferData<unsigned char> frame = WorkedExample();
    CPacketDataWrapper w;
    ASSERT_TRUE(w.InitializeByFrameData(frame.m_pBuffer, 88));
    std::vector<unsigned char> second(100, 0x5A);
    ASSERT_TRUE(w.InitializeByFrameData(second.data(), 100));  // ASan catches a leaked first block
    EXPECT_EQ(72, w.PacketData().actualDataLen);
    EXPECT_EQ(0x5A, w.PacketData().actualData[71]);

    std::unique_ptr<CPacketDataWrapper> clone(w.Clone_PacketDataWrapper());
    ASSERT_TRUE(clone);
    EXPECT_NE(w.PacketData().actualData, clone->PacketData().actualData);
    EXPECT_EQ(0, std::memcmp(w.PacketData().actualData, clone->PacketData().actualData, 72));
    EXPECT_EQ(w.PacketData().packetIndex, clone->PacketData().packetIndex);

    CPacketDataWrapper empty;
    unsigned char header[24] = {};
    header[19] = 9;
    EXPECT_FALSE(empty.InitializeByFrameData(header, 24));  // header filled, no block
    std::unique_ptr<CPacketDataWrapper> emptyClone(empty.Clone_PacketDataWrapper());
    ASSERT_TRUE(emptyClone);
    EXPECT_EQ(9u, emptyClone->PacketData().frameIndex);
    EXPECT_EQ(nullptr, emptyClone->PacketData().actualData);
}

}  // namespace
