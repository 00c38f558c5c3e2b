// The host's reading of one board status reply. The reply's data area carries, as big-endian words:
//   0  error word (bits 0 to 13)     4  frame index from which to resend
//   8  current maximum frame index  12  version (high half, low half)   16  four band words
// The host sets whether errors are to be examined, hands the reply to ParseInfo, then reads the
// members or asks the error questions. A plain value: one thread fills and reads it at a time.
#pragma once

#include <cstdint>

#include <ferrolink/FerrolinkExport.h>
#include <ferrolink/protocol/PacketDataWrapper.h>
#include <ferrolink/reply/SBoardErrorInfo.h>

namespace ferrolink::core {

struct SWaitCheckParam {
    SWaitCheckParam();
    explicit SWaitCheckParam(bool bCheckError);

    // Error word, version and band, in this order; a failing step keeps what earlier ones stored.
    bool ParseInfo(const SPacketData& packet);
    bool Parse_VersionInfo(const SPacketData& packet);
    bool Parse_BandInfo(const SPacketData& packet);

    // The index of the next frame to send: the board's resend index after a resend error,
    // otherwise one past the current maximum it reports.
    int GetFrameIndexOfResend() const;
    bool ExistError() const;         // resend or fatal; bits 8 to 13 never count
    bool ExistError_Resend() const;  // bit 0 or 1
    bool ExistError_Fatal() const;   // any of bits 2 to 7
    bool GetErrorInfo(SBoardErrorInfo& info) const;

    bool m_bCheckError;
    std::int32_t m_frameIndexOfCurMax;
    bool m_b0_Re_Frame_Ver_Err;
    bool m_b1_Re_Frame_Lose_Err;
    std::int32_t m_frameIndexOfResend;
    bool m_b2_L2_Wr_DDR2_over;
    bool m_b3_L2_Rd_DDR2_FIFO_Verr;
    bool m_b4_L2_Rd_DDR2_FIFO_ZhenTou;
    bool m_b5_L2_Rd_DDR2_FIFO_Lose;
    bool m_b6_L2_Rd_DDR2_FIFO_Epty;
    bool m_b7_Rd_DDR2_FIFO_FireOverrun;
    bool m_b8_HB_Fiber_ReData_Zhentou;
    bool m_b9;
    bool m_b10;
    bool m_b11_FirstFrame_FifoAddress_Error;
    bool m_b12_FifoAdress_None_Sequence;
    bool m_b13_DDR2_Empty;
    // Meaningful only after a successful parse. Zero until then (Initialize leaves them alone) so
    // that copying a fresh object never reads indeterminate values.
    std::uint16_t m_versionHigh{};
    std::uint16_t m_versionLow{};
    std::uint32_t m_bandInfo[4]{};

private:
    void Initialize();
    bool ParseErrorInfo(const SPacketData& packet);
};

}  // namespace ferrolink::core
