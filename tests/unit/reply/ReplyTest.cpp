// The board's status reply as the host reads it (error bits, frame indices, version, band words,
// bounds), and the hand-over of an awaited frame from the receive thread to its waiter.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/reply/SWaitCheckParam.h>
#include <ferrolink/reply/WaitReceivePacket.h>
#include "support/LogCapture.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Golden status reply data area: every word big-endian.
const Bytes kReply = {
    0x00, 0x00, 0x00, 0x00,  // 0  error word
    0x00, 0x00, 0x00, 0x07,  // 4  resend from frame 7
    0x00, 0x00, 0x00, 0x29,  // 8  current maximum 41
    0xFF, 0xFE, 0x80, 0x01,  // 12 version 0xFFFE, 0x8001
    0x01, 0x02, 0x03, 0x04,  // 16 band word 0
    0xA0, 0xB0, 0xC0, 0xD0,  // 20 band word 1
    0x00, 0x00, 0x00, 0x01,  // 24 band word 2
    0xFF, 0xFF, 0xFF, 0xFE,  // 28 band word 3
};

// Reply helpers, as members so that the short ones stay on one line.
struct SReply {
    static void Put(Bytes& data, std::size_t at, std::uint32_t word) {
        for (int i = 0; i < 4; ++i) data[at + i] = static_cast<unsigned char>(word >> (24 - 8 * i));
    }
    static Bytes Data(std::uint32_t errorWord, std::size_t length = kReply.size()) {
        Bytes data(kReply);
        Put(data, 0, errorWord);
        data.resize(length);
        data.shrink_to_fit();  // exact-size block, so an over-read is an ASan report
        return data;
    }
    // `length` is the record's claim, which may lie about the block.
    static SPacketData Record(Bytes& data, int length) {
        SPacketData record{};
        record.actualData = data.empty() ? nullptr : data.data();
        record.actualDataLen = length;
        return record;
    }
    static SPacketData Record(Bytes& data) { return Record(data, static_cast<int>(data.size())); }
    static std::array<bool, 14> Bits(std::uint32_t mask) {
        std::array<bool, 14> bits{};
        for (int b = 0; b < 14; ++b) bits[b] = (mask >> b) & 1u;
        return bits;
    }
    // The fourteen flags in bit order: bits 0 and 1 from the object, bits 2 to 13 from `i`, which
    // is the object itself or the error info it hands out.
    template <typename T>
    static std::array<bool, 14> Flags(const SWaitCheckParam& p, const T& i) {
        // clang-format off
        return {p.m_b0_Re_Frame_Ver_Err, p.m_b1_Re_Frame_Lose_Err, i.m_b2_L2_Wr_DDR2_over,
                i.m_b3_L2_Rd_DDR2_FIFO_Verr, i.m_b4_L2_Rd_DDR2_FIFO_ZhenTou,
                i.m_b5_L2_Rd_DDR2_FIFO_Lose, i.m_b6_L2_Rd_DDR2_FIFO_Epty,
                i.m_b7_Rd_DDR2_FIFO_FireOverrun, i.m_b8_HB_Fiber_ReData_Zhentou, i.m_b9, i.m_b10,
                i.m_b11_FirstFrame_FifoAddress_Error, i.m_b12_FifoAdress_None_Sequence,
                i.m_b13_DDR2_Empty};
        // clang-format on
    }
    static std::array<bool, 14> Info(const SWaitCheckParam& p) {
        SBoardErrorInfo i{};
        EXPECT_TRUE(p.GetErrorInfo(i));
        return Flags(p, i);
    }
};

// Parses a reply with `word` and checks the flags, the notices (one record at severity 1 per
// reported bit) and the two error queries.
void ExpectErrorWord(std::uint32_t word, bool b13Before, std::uint32_t flags, int notices,
                     bool resend, bool fatal) {
    SCOPED_TRACE(testing::Message() << std::hex << "error word 0x" << word);
    Bytes data = SReply::Data(word);
    SWaitCheckParam p(true);
    p.m_b13_DDR2_Empty = b13Before;
    CLogCapture log;
    ASSERT_TRUE(p.ParseInfo(SReply::Record(data)));
    EXPECT_EQ(notices, static_cast<int>(log.Records().size()));
    for (const SCapturedRecord& r : log.Records()) EXPECT_EQ(1, r.severity) << r.message;
    EXPECT_EQ(SReply::Bits(flags), SReply::Flags(p, p));
    EXPECT_EQ(SReply::Bits(flags), SReply::Info(p));
    EXPECT_EQ(resend, p.ExistError_Resend());
    EXPECT_EQ(fatal, p.ExistError_Fatal());
    EXPECT_EQ(resend || fatal, p.ExistError());
}

TEST(WaitCheckParamTest, ErrorBitsSetTheirFlagsLogAndDecideResendOrFatal) {
    for (int bit = 0; bit < 32; ++bit) {
        // Bit 9 is never read, bit 13 only with bit 6, bits 14 up are not part of the word.
        const bool read = bit < 13 && bit != 9;
        ExpectErrorWord(1u << bit, false, read ? 1u << bit : 0, read && bit != 10 ? 1 : 0, bit < 2,
                        bit >= 2 && bit < 8);
    }
    ExpectErrorWord(0x2040, false, 1u << 6 | 1u << 13, 2, false, true);
    ExpectErrorWord(0x0040, true, 1u << 6, 1, false, true);    // bit 6 visits bit 13 and clears it
    ExpectErrorWord(0x2000, true, 1u << 13, 0, false, false);  // bit 13 alone: left as it was
    ExpectErrorWord(0x3FFF, false, 0x3DFF, 12, true, true);
    SWaitCheckParam p;
    p.m_b9 = true;  // only the host writes it; the error info must still carry it
    EXPECT_EQ(SReply::Bits(1u << 9), SReply::Info(p));
}

TEST(WaitCheckParamTest, NextFrameIndexComesFromResendOrCurrentMaximum) {
    struct SCase {
        std::uint32_t errorWord, resend, curMax;
        int expected;
    };
    const int kMin = std::numeric_limits<std::int32_t>::min();
    const SCase cases[] = {
        {0x1, 7, 41, 7},
        {0x2, 0xFFFFFFFF, 41, -1},
        {0x0, 7, 41, 42},
        {0x4, 7, 0x80000000, kMin + 1},  // a fatal error is no reason to resend
        {0x0, 7, 0x7FFFFFFF, kMin},      // wraps, no undefined behaviour
    };
    for (const SCase& c : cases) {
        Bytes data = SReply::Data(c.errorWord);
        SReply::Put(data, 4, c.resend);
        SReply::Put(data, 8, c.curMax);
        SWaitCheckParam p(true);
        ASSERT_TRUE(p.ParseInfo(SReply::Record(data)));
        EXPECT_EQ(static_cast<std::int32_t>(c.resend), p.m_frameIndexOfResend);
        EXPECT_EQ(static_cast<std::int32_t>(c.curMax), p.m_frameIndexOfCurMax);
        EXPECT_EQ(c.expected, p.GetFrameIndexOfResend()) << c.curMax;
    }
}

TEST(WaitCheckParamTest, UncheckedRepliesKeepTheConstructorsErrorState) {
    Bytes data = SReply::Data(0x3FFF);
    for (SWaitCheckParam p : {SWaitCheckParam(), SWaitCheckParam(false)}) {
        EXPECT_TRUE(p.ParseInfo(SReply::Record(data)));
        EXPECT_EQ(SReply::Bits(0), SReply::Flags(p, p));
        EXPECT_EQ(-1, p.m_frameIndexOfResend);
        EXPECT_EQ(-1, p.m_frameIndexOfCurMax);
        EXPECT_FALSE(p.ExistError());
        EXPECT_EQ(0, p.GetFrameIndexOfResend());
        EXPECT_EQ(0x8001, p.m_versionLow) << "the rest of the reply is still parsed";
    }
}

TEST(WaitCheckParamTest, EachStepStoresItsWordsOnlyWhenTheyAreThere) {
    struct SCase {
        bool check;
        std::size_t length;
        int claimed;
        int stored;  // steps that stored their words: error, then version, then band
    };
    const SCase cases[] = {
        {true, 11, 11, 0}, {true, 12, 12, 1}, {true, 15, 15, 1}, {true, 16, 16, 2},
        {true, 31, 31, 2}, {true, 32, 32, 3}, {true, 32, -1, 0}, {false, 32, -1, 0},
        {true, 0, 40, 0},  {false, 0, 40, 0},  // a length that comes without a block
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.check << " " << c.length << " " << c.claimed);
        Bytes data = SReply::Data(0x1, c.length);
        SWaitCheckParam p(c.check);
        p.m_versionHigh = 0x5555;
        EXPECT_EQ(c.stored == 3, p.ParseInfo(SReply::Record(data, c.claimed)));
        EXPECT_EQ(c.stored >= 1, p.m_b0_Re_Frame_Ver_Err);
        EXPECT_EQ(c.stored >= 1 ? 41 : -1, p.m_frameIndexOfCurMax);
        EXPECT_EQ(c.stored >= 2 ? 0xFFFE : 0x5555, p.m_versionHigh);
    }
}

TEST(WaitCheckParamTest, VersionBandAndASecondParseThatKeepsWhatItDoesNotWrite) {
    Bytes first = SReply::Data(0x2040);
    SWaitCheckParam p(true);
    ASSERT_TRUE(p.ParseInfo(SReply::Record(first)));
    EXPECT_EQ(0xFFFE, p.m_versionHigh);
    EXPECT_EQ(0x8001, p.m_versionLow);
    const std::uint32_t band[4] = {0x01020304u, 0xA0B0C0D0u, 1u, 0xFFFFFFFEu};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(band[i], p.m_bandInfo[i]) << i;

    p.m_b9 = true;
    Bytes second = SReply::Data(0x0, 12);
    second[11] = 50;
    EXPECT_FALSE(p.ParseInfo(SReply::Record(second)));  // error words stored, version refused
    EXPECT_FALSE(p.m_b6_L2_Rd_DDR2_FIFO_Epty);
    EXPECT_TRUE(p.m_b13_DDR2_Empty) << "not visited without bit 6";
    EXPECT_TRUE(p.m_b9) << "never written by a parse";
    EXPECT_EQ(50, p.m_frameIndexOfCurMax);
    EXPECT_EQ(0x8001, p.m_versionLow);
    EXPECT_EQ(0xFFFFFFFEu, p.m_bandInfo[3]);

    Bytes third = SReply::Data(0x1);
    third[31] = 0x77;
    p.m_bCheckError = false;
    ASSERT_TRUE(p.ParseInfo(SReply::Record(third)));
    EXPECT_FALSE(p.m_b0_Re_Frame_Ver_Err) << "flags untouched while errors are not examined";
    EXPECT_EQ(50, p.m_frameIndexOfCurMax);
    EXPECT_EQ(0xFFFFFF77u, p.m_bandInfo[3]);
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
    CWaitReceivePacket once(kSymbol, 1);
    EXPECT_FALSE(once.WaitOne(0)) << "reset after construction";
    once.SetFrameData(MacDataSymbol_Check, first);
    EXPECT_FALSE(once.WaitOne(0)) << "another symbol changes nothing";
    once.SetFrameData(kSymbol, first);
    EXPECT_TRUE(once.WaitOne(0));
    once.SetFrameData(kSymbol, second);
    EXPECT_EQ(1u, once.PacketData().frameIndex) << "later frames are ignored";
    EXPECT_EQ(0, once.RemainCount());

    CWaitReceivePacket none(kSymbol, 0);
    none.SetFrameData(kSymbol, first);
    EXPECT_FALSE(none.WaitOne(0));
    EXPECT_TRUE(none.IsProperDataSymbol(kSymbol));
    EXPECT_FALSE(none.IsProperDataSymbol(MacDataSymbol_Check));

    CWaitReceivePacket every(kSymbol, -1);
    every.SetFrameData(kSymbol, first);
    every.SetFrameData(kSymbol, second);
    EXPECT_TRUE(every.WaitOne(0));
    EXPECT_EQ(2u, every.PacketData().frameIndex);
    EXPECT_EQ(-1, every.RemainCount());

    CWaitReceivePacket unparsable(kSymbol, 1);
    tiny.AllocateBuffer(10);
    unparsable.SetFrameData(kSymbol, tiny);
    EXPECT_TRUE(unparsable.WaitOne(0)) << "the waiter learns of a frame it cannot read too";
    EXPECT_EQ(0, unparsable.RemainCount());
    EXPECT_EQ(nullptr, unparsable.PacketData().actualData);
}

TEST(WaitReceivePacketTest, WaiterWakesWithTheFrameParsed) {
    CWaitReceivePacket reply(kSymbol, 1);
    std::thread receiveThread([&] {
        SBufferData<unsigned char> frame = Frame(77);
        reply.SetFrameData(kSymbol, frame);
    });
    ASSERT_TRUE(reply.WaitOne(2000));
    receiveThread.join();
    EXPECT_EQ(77u, reply.PacketData().frameIndex);
    ASSERT_EQ(60, reply.PacketData().actualDataLen);
    EXPECT_EQ(4, reply.PacketData().actualData[3]);
}

}  // namespace
