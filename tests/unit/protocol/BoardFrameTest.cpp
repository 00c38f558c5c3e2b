// The board frame: building it (golden bytes, padding, bounds), its checksum, parsing it, the two
// protocol MAC addresses and the buffer every frame lives in.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/PacketDataWrapper.h>
#include <ferrolink/protocol/WireBytes.h>
#include "support/LogCapture.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Helper = CNetworkHelper;
const auto* const kAbc = reinterpret_cast<const unsigned char*>("abc");

Bytes Of(const SBufferData<unsigned char>& b, int from = 0, int to = -1) {
    return Bytes(b.m_pBuffer + from, b.m_pBuffer + (to < 0 ? b.m_count : to));
}
std::uint32_t Word(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}
// The checksum written the plain way: the negated sum of the whole big-endian words.
std::uint32_t Reference(const unsigned char* p, int length) {
    std::uint32_t sum = 0;
    for (int i = 0; i + 4 <= length; i += 4) sum += Word(p + i);
    return 0u - sum;
}

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
    ASSERT_TRUE(Helper::PreparePacket_Print(1, 0, PaddingValue_Zero, 3, kAbc, 3, frame));
    EXPECT_EQ(WorkedExample(), Of(frame));
    EXPECT_EQ(block, frame.m_pBuffer) << "frames of one length are built without allocating";

    // An unknown padding kind pads with zeros too; the payload may come in a buffer.
    SBufferData<unsigned char> payload;
    payload.AllocateBuffer(3);
    std::memcpy(payload.m_pBuffer, kAbc, 3);
    ASSERT_TRUE(
        Helper::PreparePacket(0, 1, 0, payload, 60, static_cast<PaddingValueType>(9), frame));
    EXPECT_EQ(WorkedExample(), Of(frame));

    // Appending the addresses, then the checksum to the first 84 bytes, rebuilds the same frame.
    const Bytes golden = WorkedExample();
    SBufferData<unsigned char> b;
    ASSERT_TRUE(Helper::AddBoardMac(b) && Helper::AddPcMac(b));
    EXPECT_EQ(Bytes(golden.begin(), golden.begin() + 12), Of(b));
    b.AllocateBuffer(84);
    std::memcpy(b.m_pBuffer, golden.data(), 84);
    Helper::CheckSum_Add(b);
    EXPECT_EQ(golden, Of(b));
}

TEST(BoardFrameTest, HeaderIsBigEndianAndTheChecksumFollowsTheDataAreaAndSequencePadding) {
    const Bytes data(61, 0xAB);
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(Helper::PreparePacket(0x0107, 0xF1E2D3C4u, 0xA1B2C3D4u, data.data(), 60, 60,
                                      PaddingValue_Random, frame));
    // 14 dataSymbol, 16 frameIndex, 20 packetIndex
    EXPECT_EQ(Bytes({0x01, 0x07, 0xF1, 0xE2, 0xD3, 0xC4, 0xA1, 0xB2, 0xC3, 0xD4}),
              Of(frame, 14, 24));
    EXPECT_EQ(Bytes(60, 0xAB), Of(frame, 24, 84)) << "no padding";
    // A capacity that is no multiple of 4: the checksum at 85 covers the 21 words before it.
    ASSERT_TRUE(Helper::PreparePacket(0, 1, 2, data.data(), 61, 61, PaddingValue_Zero, frame));
    ASSERT_EQ(89, frame.m_count);
    EXPECT_EQ(Reference(frame.m_pBuffer, 84), Word(frame.m_pBuffer + 85));
    ASSERT_TRUE(Helper::PreparePacket(0, 0, 0, nullptr, 0, 60, PaddingValue_Zero, frame));

    // Sequence padding: one counter for the process; each whole group of 4 reversed, the tail not.
    ASSERT_TRUE(Helper::PreparePacket(0, 0, 0, data.data(), 2, 8, PaddingValue_Sequence, frame));
    const unsigned char c = frame.m_pBuffer[29];
    const auto at = [c](int k) { return static_cast<unsigned char>(c + k); };
    EXPECT_EQ(Bytes({at(3), at(2), at(1), at(0), at(4), at(5)}), Of(frame, 26, 32));
    ASSERT_TRUE(Helper::PreparePacket(0, 0, 0, nullptr, 0, 4, PaddingValue_Sequence, frame));
    EXPECT_EQ(Bytes({at(9), at(8), at(7), at(6)}), Of(frame, 24, 28)) << "the counter carries on";
}

TEST(BoardFrameTest, WhatCannotBeFramedIsRefused) {
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(Helper::PreparePacket_Print(1, 0, PaddingValue_Zero, 3, kAbc, 3, frame));
    // Refused before the buffer is touched.
    EXPECT_FALSE(Helper::PreparePacket(0, 0, 0, kAbc, 3, 65508, PaddingValue_Zero, frame));
    EXPECT_FALSE(Helper::PreparePacket(0, 0, 0, kAbc, -1, 60, PaddingValue_Zero, frame));
    EXPECT_FALSE(Helper::PreparePacket(0, 0, 0, nullptr, 3, 60, PaddingValue_Zero, frame));
    EXPECT_FALSE(Helper::PreparePacket_Print(0, 0, PaddingValue_Zero, 65501, kAbc, 3, frame));
    EXPECT_EQ(WorkedExample(), Of(frame));

    const Bytes data(61, 0x55);
    EXPECT_FALSE(Helper::PreparePacket(0, 1, 0, data.data(), 61, 60, PaddingValue_Random, frame));
    EXPECT_EQ(Bytes(64, 0), Of(frame, 24)) << "data longer than its area is not copied";
    ASSERT_TRUE(Helper::PreparePacket(0, 0, 0, kAbc, 3, 65507, PaddingValue_Zero, frame));
    EXPECT_EQ(65535, frame.m_count) << "the largest capacity that fits";

    // Print data areas: at least 60 bytes, frames a multiple of 8 bytes long.
    const std::pair<int, int> capacities[] = {{-5, 60}, {61, 68},     {68, 68},
                                              {69, 76}, {1468, 1468}, {0x7fffffff, -1}};
    for (auto [length, capacity] : capacities)
        EXPECT_EQ(capacity, Helper::GetActualPrintDataCapacity(length)) << length;
}

TEST(BoardFrameTest, ChecksumMatchesThePlainSumAtEveryLengthAndAlignment) {
    std::mt19937 rng(42);
    Bytes random(65540);
    for (auto& b : random) b = static_cast<unsigned char>(rng());
    for (int offset = 0; offset < 4; ++offset)
        for (int length = 0; length <= 1600; ++length)
            ASSERT_EQ(Reference(random.data() + offset, length),
                      Helper::CheckSum_Get(random.data() + offset, length))
                << "offset " << offset << " length " << length;
    // Long blocks cross the vector accumulators' flush points; 0xFF bytes overflow a late flush.
    Bytes ff(65536, 0xFF);
    for (const Bytes* data : {&random, &ff})
        for (int length : {4112, 8188, 65536})
            ASSERT_EQ(Reference(data->data(), length), Helper::CheckSum_Get(data->data(), length));

    EXPECT_EQ(0u, Helper::CheckSum_Get(random.data(), -4));
    // Only whole words count: 0xFFFFFFFF plus a trailing 00 00 01 must not pass as 0.
    const unsigned char sumsToZero[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1};
    EXPECT_FALSE(Helper::IsValidCheckSum(sumsToZero, 7));
    // A length without a block: 0 and invalid, told apart from a real sum only by the record.
    CLogCapture log;
    EXPECT_EQ(0u, Helper::CheckSum_Get(nullptr, 16));
    EXPECT_FALSE(Helper::IsValidCheckSum(nullptr, 16));
    EXPECT_EQ(2, log.Count("failure", 2));
}

TEST(BoardFrameTest, WireFieldsAreBigEndianAndNeverReadOrWrittenPastTheView) {
    // Both widths at offsets from -4 (wrapping through 0) to past the end of views of 0 to 9 bytes:
    // a field that does not fit is neither written (0xEE stays) nor read (7 stays).
    const unsigned char golden[] = {0x81, 0x82, 0x83, 0x84};
    for (std::size_t width : {2, 4})
        for (std::size_t length = 0; length <= 9; ++length)
            for (auto offset = static_cast<std::size_t>(-4); offset != length + 2; ++offset) {
                const bool fits = offset < 16 && offset + width <= length;
                Bytes block(12, 0xEE), expected = block;
                if (fits) std::memcpy(expected.data() + offset, golden, width);
                const ferrolink::protocol::CWireReader in(block.data(), length);
                std::uint16_t v16 = 7;
                std::uint32_t v32 = 7;
                // 32-bit stores go through the C hosts' call, which is the same writer.
                const bool stored =
                    width == 2 ? ferrolink::protocol::CWireWriter(block.data(), length)
                                     .Store16(offset, 0x8182)
                               : flk_wire_store32(block.data(), static_cast<std::int32_t>(length),
                                                  static_cast<std::int32_t>(offset),
                                                  0x81828384u) == FLK_OK;
                const bool loaded = width == 2 ? in.Load16(offset, v16) : in.Load32(offset, v32);
                const std::uint32_t value = width == 2 ? v16 : v32;
                EXPECT_TRUE(stored == fits && loaded == fits && block == expected &&
                            value == (fits ? 0x81828384u >> (32 - 8 * width) : 7u))
                    << width << "@" << offset << "/" << length;
            }
}

TEST(BoardFrameTest, ParseReadsTheBigEndianHeaderOwnsItsDataAndRefusesWhatHasNoDataArea) {
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
    EXPECT_EQ(0, std::memcmp(d.destinationMac, f.data(), 6));
    EXPECT_EQ(0, std::memcmp(d.sourceMac, f.data() + 6, 6));
    using Header = std::tuple<unsigned, unsigned, std::uint32_t, std::uint32_t>;
    EXPECT_EQ(Header(0x05DC, 0xABCD, 0x01020304u, 0xF0E0D0C0u),
              Header(d.frameLength, d.dataSymbol, d.frameIndex, d.packetIndex));
    ASSERT_EQ(4, d.actualDataLen);
    EXPECT_EQ(0, std::memcmp(d.actualData, f.data() + 24, 4));

    // A second parse replaces the block (ASan reports a leaked first one); a clone copies it.
    const Bytes second(100, 0x5A);
    ASSERT_TRUE(w.InitializeByFrameData(second.data(), 100));
    std::unique_ptr<CPacketDataWrapper> clone(w.Clone_PacketDataWrapper());
    ASSERT_TRUE(clone);
    ASSERT_EQ(72, clone->PacketData().actualDataLen);
    EXPECT_EQ(0, std::memcmp(second.data() + 24, clone->PacketData().actualData, 72));
    EXPECT_EQ(0x5A5A5A5Au, clone->PacketData().packetIndex);
    SPacketData none{};
    EXPECT_FALSE(CPacketDataWrapper::FrameData2PacketData(nullptr, 100, none));

    // 28 bytes: the header is read, the empty data area is refused; a clone has no block either.
    const Bytes g(28, 0x22);
    CPacketDataWrapper empty;
    EXPECT_FALSE(empty.InitializeByFrameData(g.data(), 28));
    EXPECT_EQ(0x22222222u, empty.PacketData().frameIndex);
    clone.reset(empty.Clone_PacketDataWrapper());
    ASSERT_TRUE(clone && !empty.PacketData().actualData && !clone->PacketData().actualData);
    const Bytes big(102428, 0x01);
    EXPECT_FALSE(w.InitializeByFrameData(big.data(), 102428)) << "a data area of 102400 bytes";
    EXPECT_TRUE(w.InitializeByFrameData(big.data(), 102427));
}

TEST(BoardFrameTest, AddressesAreComparedWholeAndBoardMacChangesReachBuiltFrames) {
    const std::pair<const unsigned char*, bool (*)(const unsigned char*)> macs[] = {
        {CConstValue::GetPcMac(), &CConstValue::IsPcMac},
        {CConstValue::BoardMac_Get(), &Helper::IsBoardMac}};
    for (auto [mac, is] : macs) {
        Bytes m(mac, mac + 6);
        EXPECT_TRUE(is(m.data()));
        for (int i : {0, 5}) {
            m[i] ^= 1;
            EXPECT_FALSE(is(m.data())) << i;
            m[i] ^= 1;
        }
    }

    const Bytes original(CConstValue::BoardMac_Get(), CConstValue::BoardMac_Get() + 6);
    SBufferData<unsigned char> mac;
    for (int n : {5, 7}) {
        mac.AllocateBuffer(n);
        EXPECT_FALSE(CConstValue::BoardMac_Set(mac)) << n;
    }
    EXPECT_EQ(original, Bytes(CConstValue::BoardMac_Get(), CConstValue::BoardMac_Get() + 6));
    mac.AllocateBuffer(6);
    mac.m_pBuffer[5] = 7;
    ASSERT_TRUE(CConstValue::BoardMac_Set(mac));
    ASSERT_TRUE(CConstValue::BoardMac_FirstByte_Update(0x56));
    SBufferData<unsigned char> frame;
    ASSERT_TRUE(Helper::PreparePacket_Print(1, 0, PaddingValue_Zero, 3, kAbc, 3, frame));
    EXPECT_EQ(Bytes({0x56, 0, 0, 0, 0, 7}), Of(frame, 0, 6));
    std::memcpy(mac.m_pBuffer, original.data(), 6);
    ASSERT_TRUE(CConstValue::BoardMac_Set(mac));
}

TEST(BoardFrameTest, BufferCopiesNeverShareABlockAndBadSizesLeaveItEmpty) {
    SBufferData<unsigned char> a;
    ASSERT_TRUE(a.AllocateBuffer(4));
    a.m_pBuffer[0] = 7;
    SBufferData<unsigned char> copy(a), assigned;
    assigned = a;
    a.m_pBuffer[0] = 8;
    EXPECT_EQ(Bytes({7, 0, 0, 0}), Of(copy));
    EXPECT_EQ(Bytes({7, 0, 0, 0}), Of(assigned));
    SBufferData<unsigned char> moved(std::move(a));
    EXPECT_EQ(nullptr, a.m_pBuffer);  // NOLINT(bugprone-use-after-move): the source is left empty
    EXPECT_EQ(8, moved.m_pBuffer[0]);
    for (int size : {0, -1}) {
        ASSERT_TRUE(moved.AllocateBuffer(8));
        EXPECT_EQ(size == 0, moved.AllocateBuffer(size)) << size;
        EXPECT_TRUE(moved.m_pBuffer == nullptr && moved.m_count == 0) << size;
    }
}

}  // namespace
