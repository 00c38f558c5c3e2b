#include <ferrolink/reply/SWaitCheckParam.h>

#include <cstdint>
#include <limits>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/platform/HostEncoding.h>
#include <ferrolink/protocol/BoardFrame.h>
#include <ferrolink/protocol/WireBytes.h>

namespace ferrolink::core {

namespace {

namespace reply = ferrolink::protocol::reply;

// The error word, the resend index and the current maximum are read together.
constexpr int kErrorWordsLength = reply::kCurrentMaximumOffset + 4;
// Bit 13 only means something when the board also reports bit 6 (DDR2 found empty).
constexpr int kDdr2EmptyBit = 6;
constexpr int kDdr2EmptyDetailBit = 13;

// Reads `count` words from data offset `offset`, all or none. A record without a block or with a
// negative length has no bytes at all.
bool LoadWords(const SPacketData& packet, int offset, std::uint32_t* words, int count) {
    const ferrolink::protocol::CWireReader in(packet.actualData, packet.actualDataLen);
    if (count < 0 ||
        !in.Fits(static_cast<std::size_t>(offset), 4 * static_cast<std::size_t>(count)))
        return false;
    for (int i = 0; i < count; ++i) in.Load32(static_cast<std::size_t>(offset + 4 * i), words[i]);
    return true;
}

// Two's complement reading of a wire word without relying on implementation-defined narrowing.
std::int32_t ToInt32(std::uint32_t value) {
    constexpr std::uint32_t kSignBit = 0x80000000u;
    if (value < kSignBit) return static_cast<std::int32_t>(value);
    return static_cast<std::int32_t>(value - kSignBit) + std::numeric_limits<std::int32_t>::min();
}

struct SErrorBit {
    int bit;
    bool SWaitCheckParam::*flag;
    const char* message;  // null: stored, never logged
};

// The order in which the board's error bits are visited, which is also the order of their log
// records. Bit 13 follows bit 6 because it qualifies it; bit 9 is not read at all.
const SErrorBit kErrorBits[] = {
    {0, &SWaitCheckParam::m_b0_Re_Frame_Ver_Err,
     u8"b0：Re_Frame_Ver_Err：主板接收千兆网帧校验错误"},
    {1, &SWaitCheckParam::m_b1_Re_Frame_Lose_Err, u8"b1：Re_Frame_Lose_Err：主板接收千兆网帧丢帧"},
    {2, &SWaitCheckParam::m_b2_L2_Wr_DDR2_over, u8"b2：L2_Wr_DDR2_over：主板写DDR2时溢出"},
    {3, &SWaitCheckParam::m_b3_L2_Rd_DDR2_FIFO_Verr,
     u8"b3：L2_Rd_DDR2_FIFO_Verr：主板读DDR2时发送校验错误"},
    {4, &SWaitCheckParam::m_b4_L2_Rd_DDR2_FIFO_ZhenTou,
     u8"b4：L2_Rd_DDR2_FIFO_ZhenTou：主板读DDR2时找不到帧头"},
    {5, &SWaitCheckParam::m_b5_L2_Rd_DDR2_FIFO_Lose,
     u8"b5：L2_Rd_DDR2_FIFO_Lose：主板读DDR2时丢帧"},
    {6, &SWaitCheckParam::m_b6_L2_Rd_DDR2_FIFO_Epty,
     u8"b6：L2_Rd_DDR2_FIFO_Epty：主板读DDR2时遇到空"},
    {kDdr2EmptyDetailBit, &SWaitCheckParam::m_b13_DDR2_Empty, "m_b13_DDR2_Empty"},
    // clang-format off
    {7, &SWaitCheckParam::m_b7_Rd_DDR2_FIFO_FireOverrun,
     u8"b7：读Rd_DDR2_FIFO向头板发送打印数据时遇到点火或开始打印命令，即一个点火数据没传完就遇到下一个点火或开始打印命令"},
    // clang-format on
    {8, &SWaitCheckParam::m_b8_HB_Fiber_ReData_Zhentou,
     u8"b8：HB_Fiber_ReData_Zhentou：头板光纤接收数据找不到帧头"},
    {10, &SWaitCheckParam::m_b10, nullptr},
    {11, &SWaitCheckParam::m_b11_FirstFrame_FifoAddress_Error,
     "m_b11_FirstFrame_FifoAddress_Error"},
    {12, &SWaitCheckParam::m_b12_FifoAdress_None_Sequence, "m_b12_FifoAdress_None_Sequence"},
};

bool BitSet(std::uint32_t word, int bit) {
    return ((word >> bit) & 1u) != 0;
}

}  // namespace

SWaitCheckParam::SWaitCheckParam() {
    Initialize();
}

SWaitCheckParam::SWaitCheckParam(bool bCheckError) {
    Initialize();
    m_bCheckError = bCheckError;
}

void SWaitCheckParam::Initialize() {
    m_bCheckError = false;
    m_frameIndexOfCurMax = -1;
    m_b0_Re_Frame_Ver_Err = false;
    m_b1_Re_Frame_Lose_Err = false;
    m_frameIndexOfResend = -1;
    m_b2_L2_Wr_DDR2_over = false;
    m_b3_L2_Rd_DDR2_FIFO_Verr = false;
    m_b4_L2_Rd_DDR2_FIFO_ZhenTou = false;
    m_b5_L2_Rd_DDR2_FIFO_Lose = false;
    m_b6_L2_Rd_DDR2_FIFO_Epty = false;
    m_b7_Rd_DDR2_FIFO_FireOverrun = false;
    m_b8_HB_Fiber_ReData_Zhentou = false;
    m_b9 = false;
    m_b10 = false;
    m_b11_FirstFrame_FifoAddress_Error = false;
    m_b12_FifoAdress_None_Sequence = false;
    m_b13_DDR2_Empty = false;
}

bool SWaitCheckParam::ParseInfo(const SPacketData& packet) {
    if (!ParseErrorInfo(packet)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    if (!Parse_VersionInfo(packet)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    if (!Parse_BandInfo(packet)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return true;
}

bool SWaitCheckParam::ParseErrorInfo(const SPacketData& packet) {
    if (!m_bCheckError) return true;
    if (packet.actualDataLen < kErrorWordsLength) {
        FLK_LOG(2) << "elementBufferLen = " << packet.actualDataLen;
        return false;
    }
    std::uint32_t words[kErrorWordsLength / 4] = {};
    if (!LoadWords(packet, reply::kErrorWordOffset, words,
                   kErrorWordsLength / 4)) {  // a length that comes without a block
        FLK_LOG(2) << "failure";
        return false;
    }
    const std::uint32_t errorWord = words[0];
    for (const SErrorBit& entry : kErrorBits) {
        if (entry.bit == kDdr2EmptyDetailBit && !BitSet(errorWord, kDdr2EmptyBit)) continue;
        const bool set = BitSet(errorWord, entry.bit);
        this->*entry.flag = set;
        if (set && entry.message != nullptr)
            FLK_LOG(1) << ferrolink::platform::CHostEncoding::FromUtf8(entry.message);
    }
    m_frameIndexOfResend = ToInt32(words[reply::kResendIndexOffset / 4]);
    m_frameIndexOfCurMax = ToInt32(words[reply::kCurrentMaximumOffset / 4]);
    return true;
}

bool SWaitCheckParam::Parse_VersionInfo(const SPacketData& packet) {
    if (packet.actualData == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    // The version word is its two halves, high first.
    const ferrolink::protocol::CWireReader in(packet.actualData, packet.actualDataLen);
    if (!in.Fits(reply::kVersionOffset, 4)) {
        FLK_LOG(2) << "actualBufferLen = " << packet.actualDataLen;
        return false;
    }
    in.Load16(reply::kVersionOffset, m_versionHigh);
    in.Load16(reply::kVersionOffset + 2, m_versionLow);
    return true;
}

bool SWaitCheckParam::Parse_BandInfo(const SPacketData& packet) {
    std::uint32_t words[reply::kBandInfoCount] = {};
    // No block, or under 32 bytes.
    if (!LoadWords(packet, reply::kBandInfoOffset, words, reply::kBandInfoCount)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    for (int i = 0; i < reply::kBandInfoCount; ++i) m_bandInfo[i] = words[i];
    return true;
}

int SWaitCheckParam::GetFrameIndexOfResend() const {
    if (m_b0_Re_Frame_Ver_Err || m_b1_Re_Frame_Lose_Err) return m_frameIndexOfResend;
    FLK_LOG(1) << "use m_frameIndexOfCurMax = " << m_frameIndexOfCurMax;
    // A board at the top of the index range wraps to the bottom rather than overflowing.
    return ToInt32(static_cast<std::uint32_t>(m_frameIndexOfCurMax) + 1u);
}

bool SWaitCheckParam::ExistError() const {
    return ExistError_Resend() || ExistError_Fatal();
}

bool SWaitCheckParam::ExistError_Resend() const {
    return m_b0_Re_Frame_Ver_Err || m_b1_Re_Frame_Lose_Err;
}

bool SWaitCheckParam::ExistError_Fatal() const {
    return m_b2_L2_Wr_DDR2_over || m_b3_L2_Rd_DDR2_FIFO_Verr || m_b4_L2_Rd_DDR2_FIFO_ZhenTou ||
           m_b5_L2_Rd_DDR2_FIFO_Lose || m_b6_L2_Rd_DDR2_FIFO_Epty || m_b7_Rd_DDR2_FIFO_FireOverrun;
}

bool SWaitCheckParam::GetErrorInfo(SBoardErrorInfo& info) const {
    info.m_b2_L2_Wr_DDR2_over = m_b2_L2_Wr_DDR2_over;
    info.m_b3_L2_Rd_DDR2_FIFO_Verr = m_b3_L2_Rd_DDR2_FIFO_Verr;
    info.m_b4_L2_Rd_DDR2_FIFO_ZhenTou = m_b4_L2_Rd_DDR2_FIFO_ZhenTou;
    info.m_b5_L2_Rd_DDR2_FIFO_Lose = m_b5_L2_Rd_DDR2_FIFO_Lose;
    info.m_b6_L2_Rd_DDR2_FIFO_Epty = m_b6_L2_Rd_DDR2_FIFO_Epty;
    info.m_b7_Rd_DDR2_FIFO_FireOverrun = m_b7_Rd_DDR2_FIFO_FireOverrun;
    info.m_b8_HB_Fiber_ReData_Zhentou = m_b8_HB_Fiber_ReData_Zhentou;
    info.m_b9 = m_b9;
    info.m_b10 = m_b10;
    info.m_b11_FirstFrame_FifoAddress_Error = m_b11_FirstFrame_FifoAddress_Error;
    info.m_b12_FifoAdress_None_Sequence = m_b12_FifoAdress_None_Sequence;
    info.m_b13_DDR2_Empty = m_b13_DDR2_Empty;
    return true;
}

}  // namespace ferrolink::core
