// The board's status reply as the host reads it (error bits, frame indices, version, band words,
// bounds), and the hand-over of an awaited frame from the receive thread to its waiter.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/WireBytes.h>
#include <ferrolink/reply/SWaitCheckParam.h>
#include <ferrolink/reply/WaitReceivePacket.h>
#include "support/LogCapture.h"

namespace {

using Bytes = std::vector<unsigned char>;
using ferrolink::protocol::CWireWriter;
namespace reply = ferrolink::protocol::reply;

// Golden status reply data area, every word big-endian, cut to `length` bytes.
Bytes Reply(std::uint32_t errorWord, std::size_t length = 32) {
    Bytes data = {
        0x00, 0x00, 0x00, 0x00,  // 0  error word
        0x00, 0x00, 0x00, 0x07,  // 4  resend from frame 7
        0x00, 0x00, 0x00, 0x29,  // 8  current maximum 41
        0xFF, 0xFE, 0x80, 0x01,  // 12 version 0xFFFE, 0x8001
        0x01, 0x02, 0x03, 0x04,  // 16 band word 0
        0xA0, 0xB0, 0xC0, 0xD0,  // 20 band word 1
        0x00, 0x00, 0x00, 0x01,  // 24 band word 2
        0xFF, 0xFF, 0xFF, 0xFE,  // 28 band word 3
    };
    CWireWriter(data.data(), data.size()).Store32(reply::kErrorWordOffset, errorWord);
    data.resize(length);
    data.shrink_to_fit();  // exact-size block, so an over-read is an ASan report
    return data;
}

SPacketData Record(Bytes& data) {
    return {{}, data.data(), static_cast<int>(data.size())};
}

// The fourteen flags as a mask in bit order: bits 0 and 1 from the object, bits 2 to 13 from `i`,
// which is the object itself or the error info it hands out.
template <typename T>
std::uint32_t Flags(const SWaitCheckParam& p, const T& i) {
    // clang-format off
    const bool flags[] = {p.m_b0_Re_Frame_Ver_Err, p.m_b1_Re_Frame_Lose_Err, i.m_b2_L2_Wr_DDR2_over,
                          i.m_b3_L2_Rd_DDR2_FIFO_Verr, i.m_b4_L2_Rd_DDR2_FIFO_ZhenTou,
                          i.m_b5_L2_Rd_DDR2_FIFO_Lose, i.m_b6_L2_Rd_DDR2_FIFO_Epty,
                          i.m_b7_Rd_DDR2_FIFO_FireOverrun, i.m_b8_HB_Fiber_ReData_Zhentou, i.m_b9,
                          i.m_b10, i.m_b11_FirstFrame_FifoAddress_Error,
                          i.m_b12_FifoAdress_None_Sequence, i.m_b13_DDR2_Empty};
    // clang-format on
    std::uint32_t mask = 0;
    for (int b = 0; b < 14; ++b) mask |= std::uint32_t{flags[b]} << b;
    return mask;
}
std::uint32_t InfoFlags(const SWaitCheckParam& p) {
    SBoardErrorInfo info{};
    return p.GetErrorInfo(info) ? Flags(p, info) : ~0u;
}

// Parses a reply with `word` and checks the flags (directly and through the error info), the
// notices (one record at severity 1 per reported bit) and the two error questions.
void ExpectErrorWord(std::uint32_t word, bool b13Before, std::uint32_t flags, int notices,
                     bool resend, bool fatal) {
    SCOPED_TRACE(testing::Message() << std::hex << "error word 0x" << word);
    Bytes data = Reply(word);
    SWaitCheckParam p(true);
    p.m_b13_DDR2_Empty = b13Before;
    CLogCapture log;
    ASSERT_TRUE(p.ParseInfo(Record(data)));
    EXPECT_EQ(notices, static_cast<int>(log.Records().size()));
    for (const SCapturedRecord& r : log.Records()) EXPECT_EQ(1, r.severity) << r.message;
    EXPECT_EQ(flags, Flags(p, p));
    EXPECT_EQ(flags, InfoFlags(p));
    EXPECT_EQ(resend, p.ExistError_Resend());
    EXPECT_EQ(fatal, p.ExistError_Fatal());
}

TEST(WaitCheckParamTest, ErrorBitsSetTheirFlagsLogAndDecideResendOrFatal) {
    for (int bit = 0; bit < 32; ++bit) {
        // Bit 9 is never read, bit 13 only with bit 6, bits 14 up are not part of the word.
        const bool read = bit < 13 && bit != 9;
        ExpectErrorWord(1u << bit, false, read ? 1u << bit : 0, read && bit != 10 ? 1 : 0, bit < 2,
                        bit >= 2 && bit < 8);
    }
    ExpectErrorWord(0x0040, true, 1u << 6, 1, false, true);    // bit 6 visits bit 13 and clears it
    ExpectErrorWord(0x2000, true, 1u << 13, 0, false, false);  // bit 13 alone: left as it was
    ExpectErrorWord(0x3FFF, false, 0x3DFF, 12, true, true);
    SWaitCheckParam p;
    p.m_b9 = true;  // only the host writes it; the error info must still carry it
    EXPECT_EQ(1u << 9, InfoFlags(p));
}

TEST(WaitCheckParamTest, NextFrameIndexComesFromResendOrCurrentMaximum) {
    // Error word, resend index, current maximum, the next frame index.
    const std::uint32_t cases[][4] = {
        {0x1, 7, 41, 7},
        {0x2, 0xFFFFFFFF, 41, 0xFFFFFFFF},
        {0x0, 7, 41, 42},
        {0x4, 7, 0x7FFFFFFF, 0x80000000},  // fatal: no resend; the maximum + 1 wraps
    };
    for (const auto& c : cases) {
        Bytes data = Reply(c[0]);
        CWireWriter(data.data(), data.size()).Store32(reply::kResendIndexOffset, c[1]);
        CWireWriter(data.data(), data.size()).Store32(reply::kCurrentMaximumOffset, c[2]);
        SWaitCheckParam p(true);
        ASSERT_TRUE(p.ParseInfo(Record(data)));
        EXPECT_EQ(static_cast<std::int32_t>(c[3]), p.GetFrameIndexOfResend())
            << c[0] << " " << c[2];
    }
}

TEST(WaitCheckParamTest, EachStepStoresItsWordsOnlyWhenTheyAreThereAndKeepsTheRest) {
    SWaitCheckParam p;  // errors are not examined unless asked for
    Bytes full = Reply(0x3FFF);
    ASSERT_TRUE(p.ParseInfo(Record(full)));
    EXPECT_EQ(0u, Flags(p, p));
    EXPECT_EQ(0, p.GetFrameIndexOfResend()) << "current maximum -1 as constructed";
    EXPECT_EQ(0xFFFE8001u, (std::uint32_t{p.m_versionHigh} << 16) | p.m_versionLow);
    const std::uint32_t band[4] = {0x01020304u, 0xA0B0C0D0u, 1u, 0xFFFFFFFEu};
    EXPECT_TRUE(std::equal(band, band + 4, p.m_bandInfo));

    p.m_bCheckError = true;
    full = Reply(0x2040);
    ASSERT_TRUE(p.ParseInfo(Record(full)));
    Bytes cut = Reply(0x0, 31);  // error and version words, no whole band
    cut[11] = 50;
    cut[15] = 0x02;
    EXPECT_FALSE(p.ParseInfo(Record(cut)));
    EXPECT_EQ(1u << 13, Flags(p, p)) << "bit 13 is not visited without bit 6";
    EXPECT_EQ(51, p.GetFrameIndexOfResend());
    EXPECT_EQ(0x8002, p.m_versionLow);
    EXPECT_EQ(0xFFFFFFFEu, p.m_bandInfo[3]);
    cut = Reply(0x1, 15);  // the error words come first; the version word is refused
    EXPECT_FALSE(p.ParseInfo(Record(cut)));
    EXPECT_TRUE(p.m_b0_Re_Frame_Ver_Err);
    EXPECT_EQ(0x8002, p.m_versionLow);
}

const auto kSymbol = static_cast<MacDataSymbolType>(0x21);

SBufferData<unsigned char> Frame(std::uint32_t frameIndex) {
    SBufferData<unsigned char> frame;
    const unsigned char data[4] = {1, 2, 3, 4};
    CNetworkHelper::PreparePacket(kSymbol, frameIndex, 0, data, 4, 60, PaddingValue_Zero, frame);
    return frame;
}

TEST(WaitReceivePacketTest, CountDecidesHowManyFramesOfTheSymbolAreAccepted) {
    SBufferData<unsigned char> first = Frame(1), second = Frame(2), tiny;
    // Count, then the frame index held after frames 1 and 2 (0: the waiter is not woken).
    for (auto [count, held] : {std::pair{1, 1u}, {0, 0u}, {-1, 2u}}) {
        CWaitReceivePacket w(kSymbol, count);
        w.SetFrameData(MacDataSymbol_Check, first);  // another symbol changes nothing
        EXPECT_FALSE(w.WaitOne(0)) << "reset after construction";
        w.SetFrameData(kSymbol, first);
        w.SetFrameData(kSymbol, second);
        EXPECT_EQ(held != 0, w.WaitOne(0)) << count;
        EXPECT_TRUE(held == 0 || held == w.PacketData().frameIndex) << count;
    }
    CWaitReceivePacket unparsable(kSymbol, 1);
    tiny.AllocateBuffer(10);
    unparsable.SetFrameData(kSymbol, tiny);
    EXPECT_TRUE(unparsable.WaitOne(0)) << "the waiter learns of a frame it cannot read too";
    EXPECT_EQ(0, unparsable.RemainCount());
}

// The host's command thread waits while the receive thread offers the reply (ThreadSanitizer sees a
// frame read before it is fully parsed).
TEST(WaitReceivePacketTest, WaiterWakesWithTheFrameParsed) {
    CWaitReceivePacket reply(kSymbol, 1);
    std::thread receiveThread([&reply] {
        SBufferData<unsigned char> frame = Frame(77);
        reply.SetFrameData(kSymbol, frame);
    });
    ASSERT_TRUE(reply.WaitOne(5000));
    EXPECT_EQ(77u, reply.PacketData().frameIndex);
    EXPECT_EQ(4, reply.PacketData().actualData[3]);
    receiveThread.join();
}

}  // namespace
