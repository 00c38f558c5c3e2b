#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include "support/LogCapture.h"

namespace {

const unsigned char* Abc() { return reinterpret_cast<const unsigned char*>("abc"); }

std::vector<unsigned char> ToVector(const SBufferData<unsigned char>& b) {
    return std::vector<unsigned char>(b.m_pBuffer, b.m_pBuffer + b.m_count);
}

// The 88-byte print-data frame: "abc", frameIndex 1, packetIndex 0, zero padding.
std::vector<unsigned char> WorkedExampleFrame() {
    std::vector<unsigned char> f = {
        0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc,  //  0 destination: board MAC
        0x7b, 0x23, 0xfc, 0x98, 0x10, 0x99,  //  6 source: PC MAC
        0x00, 0x58,                          // 12 frameLength 88
        0x00, 0x00,                          // 14 dataSymbol print data
        0x00, 0x00, 0x00, 0x01,              // 16 frameIndex 1
        0x00, 0x00, 0x00, 0x00,              // 20 packetIndex 0
        0x61, 0x62, 0x63,                    // 24 actual data "abc"
    };
    f.resize(84, 0x00);                              // 27..83 zero padding
    f.insert(f.end(), {0xf4, 0xbc, 0xba, 0xcb});     // 84 checksum
    return f;
}

TEST(FrameBuildTest, WorkedExampleThroughBothBuilders) {
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(CNetworkHelper::PreparePacket_Print(1, 0, PaddingValue_Zero, 3, Abc(), 3, frame));
    EXPECT_EQ(WorkedExampleFrame(), ToVector(frame));
    EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(frame.m_pBuffer, frame.m_count));

    SBufferData<unsigned char> payload;
    payload.AllocateBuffer(3);
    std::memcpy(payload.m_pBuffer, "abc", 3);
    SBufferData<unsigned char> frame2;
    ASSERT_TRUE(CNetworkHelper::PreparePacket(MacDataSymbol_PrintData, 1, 0, payload, 60,
                                              PaddingValue_Zero, frame2));
    EXPECT_EQ(WorkedExampleFrame(), ToVector(frame2));
    EXPECT_EQ(3, payload.m_count) << "the caller's buffer is untouched; the call released its copy";
}

TEST(FrameBuildTest, DataFillingCapacityHasNoPaddingAndEmptyDataIsAllPadding) {
    std::vector<unsigned char> data(60, 0xAB);
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(CNetworkHelper::PreparePacket(7, 2, 3, data.data(), 60, 60, PaddingValue_Random,
                                              frame));
    ASSERT_EQ(88, frame.m_count);
    EXPECT_EQ(0, std::memcmp(frame.m_pBuffer + 24, data.data(), 60));
    EXPECT_EQ(CNetworkHelper::CheckSum_Get(frame.m_pBuffer, 84),
              (uint32_t{frame.m_pBuffer[84]} << 24) | (uint32_t{frame.m_pBuffer[85]} << 16) |
                  (uint32_t{frame.m_pBuffer[86]} << 8) | frame.m_pBuffer[87]);
    EXPECT_EQ(0x00, frame.m_pBuffer[14]);
    EXPECT_EQ(0x07, frame.m_pBuffer[15]);

    ASSERT_TRUE(CNetworkHelper::PreparePacket(0, 0, 0, nullptr, 0, 60, PaddingValue_Zero, frame));
    EXPECT_EQ(88, frame.m_count);
    for (int i = 24; i < 84; ++i) EXPECT_EQ(0, frame.m_pBuffer[i]) << i;
    EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(frame.m_pBuffer, frame.m_count));
}

TEST(FrameBuildTest, RandomPaddingIsTheLowByteOfEachRandCall) {
    std::srand(1234);
    std::vector<unsigned char> expected;
    for (int i = 0; i < 57; ++i) expected.push_back(static_cast<unsigned char>(std::rand()));
    std::srand(1234);
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(CNetworkHelper::PreparePacket_Print(1, 0, PaddingValue_Random, 3, Abc(), 3, frame));
    EXPECT_EQ(expected, std::vector<unsigned char>(frame.m_pBuffer + 27, frame.m_pBuffer + 84));
    EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(frame.m_pBuffer, frame.m_count));
}

TEST(FrameBuildTest, SequencePaddingCarriesTheCounterAndReversesWholeGroups) {
    // Walk the process-wide counter to 0xFE by building frames with known padding counts:
    // padding of 60 bytes per empty 60-byte frame; read the counter from the frame itself.
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(CNetworkHelper::PreparePacket(0, 0, 0, nullptr, 0, 4, PaddingValue_Sequence, frame));
    // Group of 4 stored reversed: c+3, c+2, c+1, c.
    const unsigned char c = frame.m_pBuffer[27];
    EXPECT_EQ(static_cast<unsigned char>(c + 1), frame.m_pBuffer[26]);
    EXPECT_EQ(static_cast<unsigned char>(c + 3), frame.m_pBuffer[24]);
    unsigned char next = static_cast<unsigned char>(c + 4);
    ASSERT_TRUE(CNetworkHelper::PreparePacket(0, 0, 0, nullptr, 0, 4, PaddingValue_Sequence, frame));
    const unsigned char second[4] = {static_cast<unsigned char>(next + 3),
                                     static_cast<unsigned char>(next + 2),
                                     static_cast<unsigned char>(next + 1), next};
    EXPECT_EQ(0, std::memcmp(frame.m_pBuffer + 24, second, 4));
    next = static_cast<unsigned char>(next + 4);

    // Advance the counter to 0xFE, then 6 padding bytes give 01 00 ff fe 02 03, counter 4.
    const int advance = static_cast<unsigned char>(0xFE - next);
    if (advance > 0) {
        std::vector<unsigned char> filler(1);
        ASSERT_TRUE(CNetworkHelper::PreparePacket(0, 0, 0, filler.data(), 1,
                                                  static_cast<uint16_t>(1 + advance),
                                                  PaddingValue_Sequence, frame));
    }
    const unsigned char two[2] = {0xAA, 0xBB};
    ASSERT_TRUE(CNetworkHelper::PreparePacket(0, 0, 0, two, 2, 8, PaddingValue_Sequence, frame));
    const unsigned char expected[6] = {0x01, 0x00, 0xff, 0xfe, 0x02, 0x03};
    EXPECT_EQ(0, std::memcmp(frame.m_pBuffer + 26, expected, 6));
    ASSERT_TRUE(CNetworkHelper::PreparePacket(0, 0, 0, nullptr, 0, 1, PaddingValue_Sequence, frame));
    EXPECT_EQ(0x04, frame.m_pBuffer[24]) << "counter continues at 4";
}

TEST(FrameBuildTest, UnknownPaddingKindGivesZeros) {
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(CNetworkHelper::PreparePacket_Print(1, 0, static_cast<PaddingValueType>(9), 3,
                                                    Abc(), 3, frame));
    EXPECT_EQ(WorkedExampleFrame(), ToVector(frame));
}

TEST(FrameBuildTest, DataLongerThanCapacityLeavesHeaderAndZeros) {
    CLogCapture log;
    std::vector<unsigned char> data(61, 0x55);
    SBufferData<unsigned char> frame;
    EXPECT_FALSE(CNetworkHelper::PreparePacket(0, 1, 0, data.data(), 61, 60, PaddingValue_Random,
                                               frame));
    EXPECT_EQ(1, log.Count("actualDataLen = 61,actualDataCapacity = 60", 2));
    ASSERT_EQ(88, frame.m_count);
    std::vector<unsigned char> header = WorkedExampleFrame();
    EXPECT_EQ(0, std::memcmp(frame.m_pBuffer, header.data(), 24));
    for (int i = 24; i < 88; ++i) ASSERT_EQ(0, frame.m_pBuffer[i]) << i;
}

TEST(FrameBuildTest, RefusesWhatCannotBeFramedBeforeTouchingTheBuffer) {
    CLogCapture log;
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(CNetworkHelper::PreparePacket_Print(1, 0, PaddingValue_Zero, 3, Abc(), 3, frame));
    const std::vector<unsigned char> before = ToVector(frame);

    EXPECT_FALSE(CNetworkHelper::PreparePacket(0, 0, 0, Abc(), 3, 65508, PaddingValue_Zero, frame));
    EXPECT_FALSE(CNetworkHelper::PreparePacket(0, 0, 0, Abc(), -1, 60, PaddingValue_Zero, frame));
    EXPECT_FALSE(CNetworkHelper::PreparePacket(0, 0, 0, nullptr, 3, 60, PaddingValue_Zero, frame));
    EXPECT_FALSE(CNetworkHelper::PreparePacket_Print(0, 0, PaddingValue_Zero, 65501, Abc(), 3, frame));
    EXPECT_FALSE(CNetworkHelper::PreparePacket_Print(0, 0, PaddingValue_Zero, 0x7fffffff, Abc(), 3,
                                                     frame));
    EXPECT_EQ(before, ToVector(frame));
    EXPECT_EQ(6u, log.Records().size());
    for (const auto& r : log.Records()) EXPECT_EQ(2, r.severity) << r.message;

    // The largest capacity that fits is built, 65535 bytes long.
    ASSERT_TRUE(CNetworkHelper::PreparePacket(0, 0, 0, Abc(), 3, 65507, PaddingValue_Zero, frame));
    EXPECT_EQ(65535, frame.m_count);
    EXPECT_EQ(0xFF, frame.m_pBuffer[12]);
    EXPECT_EQ(0xFF, frame.m_pBuffer[13]);
}

TEST(FrameBuildTest, PrintCapacityRule) {
    const std::pair<int, int> cases[] = {{0, 60},     {60, 60},     {61, 68},   {68, 68},
                                         {69, 76},    {1453, 1460}, {1460, 1460}, {1461, 1468},
                                         {1468, 1468}, {1469, 1476}, {-5, 60}};
    for (auto [len, capacity] : cases) {
        EXPECT_EQ(capacity, CNetworkHelper::GetActualPrintDataCapacity(len)) << len;
        EXPECT_EQ(0, (capacity + 28) % 8) << len;
    }
    EXPECT_EQ(-1, CNetworkHelper::GetActualPrintDataCapacity(0x7fffffff));
}

TEST(FrameBuildTest, NegativeFrameIndexKeepsItsBitPattern) {
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(CNetworkHelper::PreparePacket_Print(-5, 0xA1B2C3D4u, PaddingValue_Zero, 3, Abc(),
                                                    3, frame));
    const unsigned char expected[8] = {0xFF, 0xFF, 0xFF, 0xFB, 0xA1, 0xB2, 0xC3, 0xD4};
    EXPECT_EQ(0, std::memcmp(frame.m_pBuffer + 16, expected, 8));
}

TEST(FrameBuildTest, GrowingOperationsAppendAddressesAndChecksum) {
    SBufferData<unsigned char> b;
    CNetworkHelper::CheckSum_Add(b);
    ASSERT_EQ(4, b.m_count);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(0, b.m_pBuffer[i]);
    EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(b.m_pBuffer, b.m_count));

    SBufferData<unsigned char> head;
    ASSERT_TRUE(CNetworkHelper::AddBoardMac(head));
    ASSERT_TRUE(CNetworkHelper::AddPcMac(head));
    ASSERT_EQ(12, head.m_count);
    EXPECT_EQ(0, std::memcmp(head.m_pBuffer, WorkedExampleFrame().data(), 12));

    // A frame up to the end of its data area, completed by CheckSum_Add, equals the built one.
    std::vector<unsigned char> golden = WorkedExampleFrame();
    SBufferData<unsigned char> partial;
    partial.AllocateBuffer(84);
    std::memcpy(partial.m_pBuffer, golden.data(), 84);
    CNetworkHelper::CheckSum_Add(partial);
    EXPECT_EQ(golden, ToVector(partial));
}

TEST(FrameBuildTest, ChangingTheBoardMacChangesTheChecksum) {
    SBufferData<unsigned char> a, b;
    ASSERT_TRUE(CNetworkHelper::PreparePacket_Print(1, 0, PaddingValue_Zero, 3, Abc(), 3, a));
    CConstValue::BoardMac_FirstByte_Update(0x13);
    ASSERT_TRUE(CNetworkHelper::PreparePacket_Print(1, 0, PaddingValue_Zero, 3, Abc(), 3, b));
    CConstValue::BoardMac_FirstByte_Update(0x12);
    EXPECT_NE(0, std::memcmp(a.m_pBuffer + 84, b.m_pBuffer + 84, 4));
    EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(b.m_pBuffer, b.m_count));
}

TEST(FrameBuildTest, BuildingFramesOfOneLengthKeepsTheBlock) {
    std::vector<unsigned char> data(1468, 0x11);
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(CNetworkHelper::PreparePacket_Print(0, 0, PaddingValue_Random, 1468, data.data(),
                                                    100, frame));
    unsigned char* block = frame.m_pBuffer;
    for (uint32_t i = 1; i < 50; ++i) {
        ASSERT_TRUE(CNetworkHelper::PreparePacket_Print(0, i, PaddingValue_Random, 1468,
                                                        data.data(), static_cast<int>(i * 29),
                                                        frame));
        ASSERT_EQ(block, frame.m_pBuffer);
    }
}

}  // namespace
