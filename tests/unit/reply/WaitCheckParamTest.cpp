#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <ferrolink/reply/SWaitCheckParam.h>
#include "support/LogCapture.h"

namespace {

// Golden status reply data area: every word big-endian.
const std::vector<unsigned char> kReply = {
    0x00, 0x00, 0x00, 0x00,  // 0  error word
    0x00, 0x00, 0x00, 0x07,  // 4  resend from frame 7
    0x00, 0x00, 0x00, 0x29,  // 8  current maximum 41
    0x00, 0x03, 0x00, 0x12,  // 12 version 3, 18
    0x01, 0x02, 0x03, 0x04,  // 16 band word 0
    0xA0, 0xB0, 0xC0, 0xD0,  // 20 band word 1
    0x00, 0x00, 0x00, 0x01,  // 24 band word 2
    0xFF, 0xFF, 0xFF, 0xFE,  // 28 band word 3
};

std::vector<unsigned char> Reply(std::uint32_t errorWord, std::size_t length = kReply.size()) {
    std::vector<unsigned char> data(kReply.begin(), kReply.end());
    for (int i = 0; i < 4; ++i) data[i] = static_cast<unsigned char>(errorWord >> (24 - 8 * i));
    data.resize(length);
    data.shrink_to_fit();  // exact-size block, so an over-read is an ASan report
    return data;
}

SPacketData Record(std::vector<unsigned char>& data, int length) {
    SPacketData record{};
    record.actualData = data.empty() ? nullptr : data.data();
    record.actualDataLen = length;
    return record;
}
SPacketData Record(std::vector<unsigned char>& data) {
    return Record(data, static_cast<int>(data.size()));
}

// The fourteen flags in bit order: bits 0 and 1 from the object, bits 2 to 13 from `i`, which is
// the object itself or the error info it hands out.
template <typename T>
std::array<bool, 14> Flags(const SWaitCheckParam& p, const T& i) {
    // clang-format off
    return {p.m_b0_Re_Frame_Ver_Err, p.m_b1_Re_Frame_Lose_Err, i.m_b2_L2_Wr_DDR2_over,
            i.m_b3_L2_Rd_DDR2_FIFO_Verr, i.m_b4_L2_Rd_DDR2_FIFO_ZhenTou, i.m_b5_L2_Rd_DDR2_FIFO_Lose,
            i.m_b6_L2_Rd_DDR2_FIFO_Epty, i.m_b7_Rd_DDR2_FIFO_FireOverrun,
            i.m_b8_HB_Fiber_ReData_Zhentou, i.m_b9, i.m_b10, i.m_b11_FirstFrame_FifoAddress_Error,
            i.m_b12_FifoAdress_None_Sequence, i.m_b13_DDR2_Empty};
    // clang-format on
}
std::array<bool, 14> Flags(const SWaitCheckParam& p) {
    return Flags(p, p);
}
std::array<bool, 14> Info(const SWaitCheckParam& p) {
    SBoardErrorInfo i{};
    EXPECT_TRUE(p.GetErrorInfo(i));
    return Flags(p, i);
}
std::array<bool, 14> Bits(std::uint32_t mask) {
    std::array<bool, 14> bits{};
    for (int b = 0; b < 14; ++b) bits[b] = (mask >> b) & 1u;
    return bits;
}

const std::string B0 = u8"b0：Re_Frame_Ver_Err：主板接收千兆网帧校验错误";
const std::string B1 = u8"b1：Re_Frame_Lose_Err：主板接收千兆网帧丢帧";
const std::string B2 = u8"b2：L2_Wr_DDR2_over：主板写DDR2时溢出";
const std::string B3 = u8"b3：L2_Rd_DDR2_FIFO_Verr：主板读DDR2时发送校验错误";
const std::string B4 = u8"b4：L2_Rd_DDR2_FIFO_ZhenTou：主板读DDR2时找不到帧头";
const std::string B5 = u8"b5：L2_Rd_DDR2_FIFO_Lose：主板读DDR2时丢帧";
const std::string B6 = u8"b6：L2_Rd_DDR2_FIFO_Epty：主板读DDR2时遇到空";
// clang-format off
const std::string B7 = u8"b7：读Rd_DDR2_FIFO向头板发送打印数据时遇到点火或开始打印命令，即一个点火数据没传完就遇到下一个点火或开始打印命令";
// clang-format on
const std::string B8 = u8"b8：HB_Fiber_ReData_Zhentou：头板光纤接收数据找不到帧头";
const std::string B11 = "m_b11_FirstFrame_FifoAddress_Error";
const std::string B12 = "m_b12_FifoAdress_None_Sequence";
const std::string B13 = "m_b13_DDR2_Empty";

std::vector<std::string> Notices(const CLogCapture& log) {
    std::vector<std::string> notices;
    for (const SCapturedRecord& r : log.Records()) {
        EXPECT_EQ(1, r.severity) << r.message;
        notices.push_back(r.message);
    }
    return notices;
}

TEST(WaitCheckParamTest, ErrorBitsSetFlagsLogInVisitOrderAndAnswerQueries) {
    struct SCase {
        std::uint32_t word;
        bool b13Before;  // a value bit 13 may have kept from an earlier reply
        std::uint32_t flags;
        std::vector<std::string> logged;
        bool resend, fatal;
    };
    const SCase cases[] = {
        {0x00000001, false, 1u << 0, {B0}, true, false},
        {0x00000002, false, 1u << 1, {B1}, true, false},
        {0x00000004, false, 1u << 2, {B2}, false, true},
        {0x00000008, false, 1u << 3, {B3}, false, true},
        {0x00000010, false, 1u << 4, {B4}, false, true},
        {0x00000020, false, 1u << 5, {B5}, false, true},
        {0x00000040, true, 1u << 6, {B6}, false, true},  // bit 6 visits bit 13 and clears it
        {0x00000080, false, 1u << 7, {B7}, false, true},
        {0x00002040, false, 1u << 6 | 1u << 13, {B6, B13}, false, true},
        {0x00002000, true, 1u << 13, {}, false, false},  // bit 13 alone: not looked at
        {0x00002000, false, 0, {}, false, false},
        {0x00000100, false, 1u << 8, {B8}, false, false},
        {0x00000200, false, 0, {}, false, false},  // bit 9 is never read
        {0x00000400, false, 1u << 10, {}, false, false},
        {0x00000800, false, 1u << 11, {B11}, false, false},
        {0x00001000, false, 1u << 12, {B12}, false, false},
        {0xFFFFC000, false, 0, {}, false, false},  // bits 14 to 31 are not part of the word
        {0x00003FFF,
         false,
         0x3DFF,
         {B0, B1, B2, B3, B4, B5, B6, B13, B7, B8, B11, B12},
         true,
         true},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "error word 0x" << c.word);
        std::vector<unsigned char> data = Reply(c.word);
        SWaitCheckParam p(true);
        p.m_b13_DDR2_Empty = c.b13Before;
        CLogCapture log;
        ASSERT_TRUE(p.ParseInfo(Record(data)));
        EXPECT_EQ(c.logged, Notices(log));
        EXPECT_EQ(Bits(c.flags), Flags(p));
        EXPECT_EQ(Bits(c.flags), Info(p));
        EXPECT_EQ(c.resend, p.ExistError_Resend());
        EXPECT_EQ(c.fatal, p.ExistError_Fatal());
        EXPECT_EQ(c.resend || c.fatal, p.ExistError());
    }
    SWaitCheckParam p;
    p.m_b9 = true;  // only the host writes it; the error info must still carry it
    EXPECT_EQ(Bits(1u << 9), Info(p));
}

TEST(WaitCheckParamTest, NextFrameIndexComesFromResendOrCurrentMaximum) {
    struct SCase {
        std::uint32_t errorWord, resend, curMax;
        int expected;
        std::vector<std::string> logged;
    };
    const int kMin = std::numeric_limits<std::int32_t>::min();
    const SCase cases[] = {
        {0x1, 7, 41, 7, {B0}},
        {0x2, 0xFFFFFFFF, 41, -1, {B1}},
        {0x0, 7, 41, 42, {"use m_frameIndexOfCurMax = 41"}},
        {0x4, 7, 0x80000000, kMin + 1, {B2, "use m_frameIndexOfCurMax = -2147483648"}},
        {0x0, 7, 0x7FFFFFFF, kMin, {"use m_frameIndexOfCurMax = 2147483647"}},  // wraps, no UB
    };
    for (const SCase& c : cases) {
        std::vector<unsigned char> data = Reply(c.errorWord);
        for (int i = 0; i < 4; ++i) {
            data[4 + i] = static_cast<unsigned char>(c.resend >> (24 - 8 * i));
            data[8 + i] = static_cast<unsigned char>(c.curMax >> (24 - 8 * i));
        }
        SWaitCheckParam p(true);
        CLogCapture log;
        ASSERT_TRUE(p.ParseInfo(Record(data)));
        EXPECT_EQ(static_cast<std::int32_t>(c.resend), p.m_frameIndexOfResend);
        EXPECT_EQ(static_cast<std::int32_t>(c.curMax), p.m_frameIndexOfCurMax);
        EXPECT_EQ(c.expected, p.GetFrameIndexOfResend()) << c.curMax;
        EXPECT_EQ(c.logged, Notices(log));
    }
}

TEST(WaitCheckParamTest, UncheckedRepliesLeaveErrorStateAtConstructorValues) {
    std::vector<unsigned char> data = Reply(0x3FFF);
    for (SWaitCheckParam p : {SWaitCheckParam(), SWaitCheckParam(false)}) {
        for (int pass = 0; pass < 2; ++pass) {  // fresh, then after a reply full of errors
            EXPECT_EQ(Bits(0), Flags(p));
            EXPECT_EQ(-1, p.m_frameIndexOfResend);
            EXPECT_EQ(-1, p.m_frameIndexOfCurMax);
            EXPECT_FALSE(p.ExistError() || p.ExistError_Resend() || p.ExistError_Fatal());
            CLogCapture log;
            EXPECT_EQ(0, p.GetFrameIndexOfResend());
            EXPECT_EQ(std::vector<std::string>{"use m_frameIndexOfCurMax = -1"}, Notices(log));
            EXPECT_TRUE(p.ParseInfo(Record(data)));
        }
        EXPECT_EQ(18, p.m_versionLow) << "the rest of the reply is still parsed";
    }
}

TEST(WaitCheckParamTest, VersionAndBandWordsInReplyOrder) {
    std::vector<unsigned char> data = Reply(0);
    SWaitCheckParam p(true);
    ASSERT_TRUE(p.ParseInfo(Record(data)));
    EXPECT_EQ(3, p.m_versionHigh);
    EXPECT_EQ(18, p.m_versionLow);
    const std::uint32_t band[4] = {0x01020304u, 0xA0B0C0D0u, 1u, 0xFFFFFFFEu};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(band[i], p.m_bandInfo[i]) << i;
    data[12] = 0xFF, data[13] = 0xFE, data[14] = 0x80, data[15] = 0x01;
    ASSERT_TRUE(p.Parse_VersionInfo(Record(data)));
    EXPECT_EQ(0xFFFE, p.m_versionHigh);
    EXPECT_EQ(0x8001, p.m_versionLow);
}

TEST(WaitCheckParamTest, LengthBoundariesOfEachStep) {
    struct SCase {
        bool check;
        std::size_t length;
        int claimed;  // actualDataLen of the record; may lie about the block
        bool parsed;
        std::vector<std::string> logged;  // all at severity 2
        bool errorStored, versionStored;
    };
    const SCase cases[] = {
        {true, 11, 11, false, {"elementBufferLen = 11", "failure"}, false, false},
        {true, 12, 12, false, {"actualBufferLen = 12", "failure"}, true, false},
        {true, 15, 15, false, {"actualBufferLen = 15", "failure"}, true, false},
        {true, 16, 16, false, {"failure", "failure"}, true, true},
        {true, 31, 31, false, {"failure", "failure"}, true, true},
        {true, 32, 32, true, {}, true, true},
        {true, 32, -1, false, {"elementBufferLen = -1", "failure"}, false, false},
        {false, 32, -1, false, {"actualBufferLen = -1", "failure"}, false, false},
        {true, 0, 0, false, {"elementBufferLen = 0", "failure"}, false, false},
        {true, 0, 40, false, {"failure", "failure"}, false, false},  // a length without a block
        {false, 0, 40, false, {"failure", "failure"}, false, false},
        {false, 0, 0, false, {"failure", "failure"}, false, false},  // no block: version refuses
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.check << " " << c.length << " " << c.claimed);
        std::vector<unsigned char> data = Reply(0x1, c.length);
        SWaitCheckParam p(c.check);
        p.m_versionHigh = 0x5555;
        CLogCapture log;
        EXPECT_EQ(c.parsed, p.ParseInfo(Record(data, c.claimed)));
        std::vector<std::string> failures;
        for (const SCapturedRecord& r : log.Records())
            if (r.severity == 2) failures.push_back(r.message);
        EXPECT_EQ(c.logged, failures);
        EXPECT_EQ(c.errorStored, p.m_b0_Re_Frame_Ver_Err);
        EXPECT_EQ(c.errorStored ? 41 : -1, p.m_frameIndexOfCurMax);
        EXPECT_EQ(c.versionStored ? 3 : 0x5555, p.m_versionHigh);
    }
}

TEST(WaitCheckParamTest, SecondParseKeepsWhatItDoesNotWrite) {
    std::vector<unsigned char> first = Reply(0x2040);
    SWaitCheckParam p(true);
    ASSERT_TRUE(p.ParseInfo(Record(first)));
    p.m_b9 = true;
    std::vector<unsigned char> second = Reply(0x0, 12);
    second[11] = 50;
    EXPECT_FALSE(p.ParseInfo(Record(second)));  // error word stored, version refused
    EXPECT_FALSE(p.m_b6_L2_Rd_DDR2_FIFO_Epty);
    EXPECT_TRUE(p.m_b13_DDR2_Empty) << "not visited without bit 6";
    EXPECT_TRUE(p.m_b9) << "never written by a parse";
    EXPECT_EQ(50, p.m_frameIndexOfCurMax);
    EXPECT_EQ(18, p.m_versionLow);
    EXPECT_EQ(0xFFFFFFFEu, p.m_bandInfo[3]);

    std::vector<unsigned char> third = Reply(0x1);
    third[31] = 0x77;
    p.m_bCheckError = false;
    ASSERT_TRUE(p.ParseInfo(Record(third)));
    EXPECT_FALSE(p.m_b0_Re_Frame_Ver_Err) << "flags untouched while errors are not examined";
    EXPECT_EQ(50, p.m_frameIndexOfCurMax);
    EXPECT_EQ(0xFFFFFF77u, p.m_bandInfo[3]);
}

}  // namespace
