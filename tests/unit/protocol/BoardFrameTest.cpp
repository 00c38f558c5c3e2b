// The board frame: building it (golden bytes, padding, bounds), its checksum, parsing it, the two
// protocol MAC addresses and the buffer every frame lives in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/PacketDataWrapper.h>
#include "support/LogCapture.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Helper = CNetworkHelper;

// Byte helpers, as members so that the short ones stay on one line.
struct SBytes {
    static Bytes Of(const SBufferData<unsigned char>& b) {
        return Bytes(b.m_pBuffer, b.m_pBuffer + b.m_count);
    }
    static const unsigned char* Abc() { return reinterpret_cast<const unsigned char*>("abc"); }
    static uint32_t Word(const unsigned char* p) {
        return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    }
    // The checksum written the plain way: the negated sum of the whole big-endian words.
    static uint32_t Reference(const unsigned char* p, int length) {
        uint32_t sum = 0;
        for (int i = 0; i + 4 <= length; i += 4) sum += Word(p + i);
        return 0u - sum;
    }
};

// The 88-byte print-data frame: "abc", frameIndex 1, packetIndex 0, zero padding.
Bytes WorkedExample() {
    Bytes f = {
        0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc,  //  0 destination: board MAC
        0x7b, 0x23, 0xfc, 0x98, 0x10, 0x99,  //  6 source: PC MAC
        0x00, 0x58,                          // 12 frameLength 88
        0x00, 0x00,                          // 14 dataSymbol print data
        0x00, 0x00, 0x00, 0x01,              // 16 frameIndex 1
        0x00, 0x00, 0x00, 0x00,              // 20 packetIndex 0
        0x61, 0x62, 0x63,                    // 24 actual data "abc"
    };
    f.resize(84, 0x00);                           // 27..83 zero padding
    f.insert(f.end(), {0xf4, 0xbc, 0xba, 0xcb});  // 84 checksum
    return f;
}

TEST(BoardFrameTest, WorkedExampleIsBuiltByteExactIntoTheReusedBlock) {
    SBufferData<unsigned char> frame;
    // Random padding first: a reused block that is not zeroed would leak it into the next frame.
    const Bytes data(30, 0x11);
    ASSERT_TRUE(Helper::PreparePacket_Print(1, 0, PaddingValue_Random, 3, data.data(), 30, frame));
    unsigned char* block = frame.m_pBuffer;
    ASSERT_TRUE(Helper::PreparePacket_Print(1, 0, PaddingValue_Zero, 3, SBytes::Abc(), 3, frame));
    EXPECT_EQ(WorkedExample(), SBytes::Of(frame));
    EXPECT_EQ(block, frame.m_pBuffer) << "frames of one length are built without allocating";
    EXPECT_TRUE(Helper::IsValidCheckSum(frame.m_pBuffer, frame.m_count));

    const auto unknownKind = static_cast<PaddingValueType>(9);  // pads with zeros too
    ASSERT_TRUE(Helper::PreparePacket_Print(1, 0, unknownKind, 3, SBytes::Abc(), 3, frame));
    EXPECT_EQ(WorkedExample(), SBytes::Of(frame));

    SBufferData<unsigned char> payload;
    payload.AllocateBuffer(3);
    std::memcpy(payload.m_pBuffer, "abc", 3);
    ASSERT_TRUE(Helper::PreparePacket(MacDataSymbol_PrintData, 1, 0, payload, 60, PaddingValue_Zero,
                                      frame));
    EXPECT_EQ(WorkedExample(), SBytes::Of(frame)) << "the payload passed in a buffer";
}

TEST(BoardFrameTest, HeaderIsBigEndianAndTheChecksumFollowsTheDataArea) {
    const Bytes data(61, 0xAB);
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(Helper::PreparePacket(0x0107, 0xF1E2D3C4u, 0xA1B2C3D4u, data.data(), 60, 60,
                                      PaddingValue_Random, frame));
    const unsigned char header[] = {
        0x00, 0x58,              // 12 frameLength 88
        0x01, 0x07,              // 14 dataSymbol
        0xF1, 0xE2, 0xD3, 0xC4,  // 16 frameIndex
        0xA1, 0xB2, 0xC3, 0xD4,  // 20 packetIndex
    };
    ASSERT_EQ(88, frame.m_count);
    EXPECT_EQ(0, std::memcmp(frame.m_pBuffer + 12, header, sizeof header));
    EXPECT_EQ(Bytes(60, 0xAB), Bytes(frame.m_pBuffer + 24, frame.m_pBuffer + 84)) << "no padding";
    EXPECT_EQ(SBytes::Reference(frame.m_pBuffer, 84), SBytes::Word(frame.m_pBuffer + 84));

    // A capacity that is no multiple of 4: the checksum at 85 covers the 21 words before it.
    ASSERT_TRUE(Helper::PreparePacket(0, 1, 2, data.data(), 61, 61, PaddingValue_Zero, frame));
    ASSERT_EQ(89, frame.m_count);
    EXPECT_EQ(SBytes::Reference(frame.m_pBuffer, 84), SBytes::Word(frame.m_pBuffer + 85));

    ASSERT_TRUE(Helper::PreparePacket(0, 0, 0, nullptr, 0, 60, PaddingValue_Zero, frame));
    EXPECT_EQ(Bytes(60, 0), Bytes(frame.m_pBuffer + 24, frame.m_pBuffer + 84)) << "no data at all";
    EXPECT_TRUE(Helper::IsValidCheckSum(frame.m_pBuffer, frame.m_count));
}

TEST(BoardFrameTest, RandomAndSequencePadding) {
    std::srand(1234);
    Bytes expected;
    for (int i = 0; i < 57; ++i) expected.push_back(static_cast<unsigned char>(std::rand()));
    std::srand(1234);
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(Helper::PreparePacket_Print(1, 0, PaddingValue_Random, 3, SBytes::Abc(), 3, frame));
    EXPECT_EQ(expected, Bytes(frame.m_pBuffer + 27, frame.m_pBuffer + 84)) << "low byte of rand";
    EXPECT_TRUE(Helper::IsValidCheckSum(frame.m_pBuffer, frame.m_count));

    // The sequence counter is one for the process: read it, then bring it to 0xFE.
    ASSERT_TRUE(Helper::PreparePacket(0, 0, 0, nullptr, 0, 4, PaddingValue_Sequence, frame));
    const unsigned char c = frame.m_pBuffer[27];
    const Bytes group = {static_cast<unsigned char>(c + 3), static_cast<unsigned char>(c + 2),
                         static_cast<unsigned char>(c + 1), c};
    EXPECT_EQ(group, Bytes(frame.m_pBuffer + 24, frame.m_pBuffer + 28)) << "groups are reversed";
    const auto advance = static_cast<uint16_t>(static_cast<unsigned char>(0xFE - (c + 4)));
    ASSERT_TRUE(Helper::PreparePacket(0, 0, 0, nullptr, 0, advance, PaddingValue_Sequence, frame));
    const unsigned char two[2] = {0xAA, 0xBB};
    ASSERT_TRUE(Helper::PreparePacket(0, 0, 0, two, 2, 8, PaddingValue_Sequence, frame));
    // Padding fe ff 00 01 02 03: the counter wraps, a whole group is reversed, the tail is not.
    const Bytes wrapped = {0x01, 0x00, 0xff, 0xfe, 0x02, 0x03};
    EXPECT_EQ(wrapped, Bytes(frame.m_pBuffer + 26, frame.m_pBuffer + 32));
    ASSERT_TRUE(Helper::PreparePacket(0, 0, 0, nullptr, 0, 1, PaddingValue_Sequence, frame));
    EXPECT_EQ(0x04, frame.m_pBuffer[24]) << "the counter carries on after a partial group";
}

TEST(BoardFrameTest, WhatCannotBeFramedIsRefused) {
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(Helper::PreparePacket_Print(1, 0, PaddingValue_Zero, 3, SBytes::Abc(), 3, frame));
    // Refused before the buffer is touched.
    EXPECT_FALSE(Helper::PreparePacket(0, 0, 0, SBytes::Abc(), 3, 65508, PaddingValue_Zero, frame));
    EXPECT_FALSE(Helper::PreparePacket(0, 0, 0, SBytes::Abc(), -1, 60, PaddingValue_Zero, frame));
    EXPECT_FALSE(Helper::PreparePacket(0, 0, 0, nullptr, 3, 60, PaddingValue_Zero, frame));
    EXPECT_FALSE(
        Helper::PreparePacket_Print(0, 0, PaddingValue_Zero, 65501, SBytes::Abc(), 3, frame));
    EXPECT_FALSE(
        Helper::PreparePacket_Print(0, 0, PaddingValue_Zero, 0x7fffffff, SBytes::Abc(), 3, frame));
    EXPECT_EQ(WorkedExample(), SBytes::Of(frame));

    // Data longer than its area: the header is written, the data area stays zero.
    const Bytes data(61, 0x55);
    EXPECT_FALSE(Helper::PreparePacket(0, 1, 0, data.data(), 61, 60, PaddingValue_Random, frame));
    const Bytes golden = WorkedExample();
    EXPECT_EQ(Bytes(golden.begin(), golden.begin() + 24),
              Bytes(frame.m_pBuffer, frame.m_pBuffer + 24));
    EXPECT_EQ(Bytes(64, 0), Bytes(frame.m_pBuffer + 24, frame.m_pBuffer + frame.m_count));

    ASSERT_TRUE(Helper::PreparePacket(0, 0, 0, SBytes::Abc(), 3, 65507, PaddingValue_Zero, frame));
    EXPECT_EQ(65535, frame.m_count) << "the largest capacity that fits";
    EXPECT_EQ(0xFFFF, frame.m_pBuffer[12] << 8 | frame.m_pBuffer[13]);

    // Print data areas: at least 60 bytes, frames a multiple of 8 bytes long.
    const std::pair<int, int> capacities[] = {{-5, 60},     {0, 60},      {60, 60},        {61, 68},
                                              {64, 68},     {65, 68},     {68, 68},        {69, 76},
                                              {1468, 1468}, {1469, 1476}, {0x7fffffff, -1}};
    for (auto [length, capacity] : capacities)
        EXPECT_EQ(capacity, Helper::GetActualPrintDataCapacity(length)) << length;
}

TEST(BoardFrameTest, AppendedAddressesAndChecksumRebuildTheFrame) {
    const Bytes golden = WorkedExample();
    SBufferData<unsigned char> b;
    ASSERT_TRUE(Helper::AddBoardMac(b));
    ASSERT_TRUE(Helper::AddPcMac(b));
    EXPECT_EQ(Bytes(golden.begin(), golden.begin() + 12), SBytes::Of(b));
    b.AllocateBuffer(84);
    std::memcpy(b.m_pBuffer, golden.data(), 84);
    Helper::CheckSum_Add(b);
    EXPECT_EQ(golden, SBytes::Of(b));
    SBufferData<unsigned char> empty;
    Helper::CheckSum_Add(empty);
    EXPECT_EQ(Bytes(4, 0), SBytes::Of(empty));
}

TEST(BoardFrameTest, ChecksumMatchesThePlainSumAtEveryLengthAndAlignment) {
    std::mt19937 rng(42);
    Bytes random(65540);
    for (auto& b : random) b = static_cast<unsigned char>(rng());
    for (int offset = 0; offset < 4; ++offset)
        for (int length = 0; length <= 1600; ++length)
            ASSERT_EQ(SBytes::Reference(random.data() + offset, length),
                      Helper::CheckSum_Get(random.data() + offset, length))
                << "offset " << offset << " length " << length;
    // Long blocks cross the vector accumulators' flush points; 0xFF bytes overflow a late flush.
    Bytes ff(65536, 0xFF);
    for (const Bytes* data : {&random, &ff})
        for (int length : {4096, 4100, 4112, 8188, 8192, 65536})
            ASSERT_EQ(SBytes::Reference(data->data(), length),
                      Helper::CheckSum_Get(data->data(), length));

    // No whole word: sum 0 and valid, with or without a block.
    EXPECT_EQ(0u, Helper::CheckSum_Get(random.data(), -4));
    EXPECT_TRUE(Helper::IsValidCheckSum(nullptr, 3));
    // Only whole words count: 0xFFFFFFFF plus a trailing 00 00 01 must not pass as 0.
    const unsigned char sumsToZero[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1};
    EXPECT_FALSE(Helper::IsValidCheckSum(sumsToZero, 7));
    EXPECT_TRUE(Helper::IsValidCheckSum(sumsToZero, 8));
    // A length without a block: 0 and invalid, told apart from a real sum only by the record.
    CLogCapture log;
    EXPECT_EQ(0u, Helper::CheckSum_Get(nullptr, 16));
    EXPECT_FALSE(Helper::IsValidCheckSum(nullptr, 16));
    EXPECT_EQ(2, log.Count("failure", 2));
}

TEST(BoardFrameTest, ParseReadsTheBigEndianHeaderAndOwnsItsCopyOfTheData) {
    const Bytes f = {
        1,    2,    3,    4,    5, 6, 7, 8, 9, 10, 11, 12,  // 0 destination, 6 source
        0x05, 0xDC,                                         // 12 frameLength: as sent, unchecked
        0xAB, 0xCD,                                         // 14 dataSymbol
        0x01, 0x02, 0x03, 0x04,                             // 16 frameIndex
        0xF0, 0xE0, 0xD0, 0xC0,                             // 20 packetIndex
        0x61, 0x62, 0x63, 0x64,                             // 24 data area
        0,    0,    0,    0,                                // 28 checksum, not looked at
    };
    CPacketDataWrapper w;
    ASSERT_TRUE(w.InitializeByFrameData(f.data(), 32));
    const SPacketData& d = w.PacketData();
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 6), Bytes(d.destinationMac, d.destinationMac + 6));
    EXPECT_EQ(Bytes(f.begin() + 6, f.begin() + 12), Bytes(d.sourceMac, d.sourceMac + 6));
    using Header = std::tuple<unsigned, unsigned, std::uint32_t, std::uint32_t>;
    EXPECT_EQ(Header(0x05DC, 0xABCD, 0x01020304u, 0xF0E0D0C0u),
              Header(d.frameLength, d.dataSymbol, d.frameIndex, d.packetIndex));
    ASSERT_EQ(4, d.actualDataLen);
    EXPECT_EQ(0, std::memcmp(d.actualData, f.data() + 24, 4));
    EXPECT_NE(f.data() + 24, d.actualData);

    // A second parse replaces the block (ASan reports a leaked first one); a clone copies it.
    const Bytes second(100, 0x5A);
    ASSERT_TRUE(w.InitializeByFrameData(second.data(), 100));
    ASSERT_EQ(72, d.actualDataLen);
    std::unique_ptr<CPacketDataWrapper> clone(w.Clone_PacketDataWrapper());
    ASSERT_TRUE(clone);
    EXPECT_NE(d.actualData, clone->PacketData().actualData);
    EXPECT_EQ(0, std::memcmp(d.actualData, clone->PacketData().actualData, 72));
    EXPECT_EQ(0x5A5A5A5Au, clone->PacketData().packetIndex);

    // Under 24 bytes nothing is read: the previous frame stays.
    EXPECT_FALSE(w.InitializeByFrameData(f.data(), 23));
    EXPECT_EQ(0x5A5A5A5Au, d.frameIndex);
    SPacketData none{};
    EXPECT_FALSE(CPacketDataWrapper::FrameData2PacketData(nullptr, 100, none));
}

TEST(BoardFrameTest, ParseRefusesFramesWithoutADataAreaAndHugeOnes) {
    for (uint32_t length : {24u, 27u, 28u}) {  // the header is read, the data area is refused
        const Bytes f(length, 0x22);
        CPacketDataWrapper w;
        EXPECT_FALSE(w.InitializeByFrameData(f.data(), length)) << length;
        EXPECT_EQ(0x22222222u, w.PacketData().frameIndex) << length;
        EXPECT_EQ(nullptr, w.PacketData().actualData) << length;
        std::unique_ptr<CPacketDataWrapper> clone(w.Clone_PacketDataWrapper());
        ASSERT_TRUE(clone);
        EXPECT_EQ(nullptr, clone->PacketData().actualData) << "a clone of a record without data";
    }
    const Bytes big(102428, 0x01);
    CPacketDataWrapper w;
    EXPECT_FALSE(w.InitializeByFrameData(big.data(), 102428)) << "a data area of 102400 bytes";
    EXPECT_TRUE(w.InitializeByFrameData(big.data(), 102427));
}

TEST(BoardFrameTest, BoardMacChangesReachBuiltFramesAndWrongLengthsAreRefused) {
    const unsigned char* seen = CConstValue::BoardMac_Get();
    const Bytes original(seen, seen + 6);
    for (int n : {0, 5, 7}) {
        SBufferData<unsigned char> wrong;
        wrong.AllocateBuffer(n);
        EXPECT_FALSE(CConstValue::BoardMac_Set(wrong)) << n;
    }
    EXPECT_EQ(original, Bytes(seen, seen + 6));

    SBufferData<unsigned char> mac;
    mac.AllocateBuffer(6);
    mac.m_pBuffer[5] = 7;
    ASSERT_TRUE(CConstValue::BoardMac_Set(mac));
    ASSERT_TRUE(CConstValue::BoardMac_FirstByte_Update(0x56));
    const Bytes expected = {0x56, 0, 0, 0, 0, 7};
    EXPECT_EQ(expected, Bytes(seen, seen + 6)) << "the pointer follows later changes";
    EXPECT_TRUE(Helper::IsBoardMac(expected.data()));
    EXPECT_FALSE(Helper::IsBoardMac(original.data()));
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(Helper::PreparePacket_Print(1, 0, PaddingValue_Zero, 3, SBytes::Abc(), 3, frame));
    EXPECT_EQ(expected, Bytes(frame.m_pBuffer, frame.m_pBuffer + 6));
    EXPECT_TRUE(Helper::IsValidCheckSum(frame.m_pBuffer, frame.m_count));
    std::memcpy(mac.m_pBuffer, original.data(), 6);
    ASSERT_TRUE(CConstValue::BoardMac_Set(mac));

    unsigned char pc[6];
    std::memcpy(pc, CConstValue::GetPcMac(), 6);
    EXPECT_TRUE(CConstValue::IsPcMac(pc));
    pc[5] ^= 1;
    EXPECT_FALSE(CConstValue::IsPcMac(pc));
    pc[5] ^= 1;
    pc[0] ^= 0x80;
    EXPECT_FALSE(CConstValue::IsPcMac(pc));
}

TEST(BoardFrameTest, BufferCopiesNeverShareABlockAndBadSizesLeaveItEmpty) {
    SBufferData<unsigned char> a;
    ASSERT_TRUE(a.AllocateBuffer(4));
    a.m_pBuffer[0] = 7;
    SBufferData<unsigned char> copy(a), assigned;
    assigned = a;
    ASSERT_EQ(4, copy.m_count);
    EXPECT_NE(a.m_pBuffer, copy.m_pBuffer);
    EXPECT_NE(a.m_pBuffer, assigned.m_pBuffer);
    EXPECT_EQ(7, assigned.m_pBuffer[0]);
    SBufferData<unsigned char> moved(std::move(a));
    EXPECT_EQ(nullptr, a.m_pBuffer);  // NOLINT(bugprone-use-after-move): the source is left empty
    EXPECT_EQ(0, a.m_count);
    EXPECT_EQ(7, moved.m_pBuffer[0]);

    for (int size : {0, -1}) {
        ASSERT_TRUE(moved.AllocateBuffer(8));
        EXPECT_EQ(size == 0, moved.AllocateBuffer(size)) << size;
        EXPECT_EQ(nullptr, moved.m_pBuffer) << size;
        EXPECT_EQ(0, moved.m_count) << size;
    }
    EXPECT_EQ(nullptr, SBufferData<unsigned char>::New_ElementBuffer(0));
}

}  // namespace
