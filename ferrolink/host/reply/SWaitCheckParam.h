// The host's reading of one board status reply. The reply's data area carries, as big-endian words:
//   0  error word (bits 0 to 13)     4  frame index from which to resend
//   8  current maximum frame index  12  version (high half, low half)   16  four band words
// The host sets whether errors are to be examined, hands the reply to ParseInfo, then reads the
// members or asks the error questions. A plain value: one thread fills and reads it at a time.
// Header-only: the library parses and judges (and logs), the members live here.
#pragma once

#include <cstdint>

#include <ferrolink/api/ferrolink.h>
#include <ferrolink/protocol/PacketDataWrapper.h>
#include <ferrolink/reply/SBoardErrorInfo.h>

struct SWaitCheckParam {
    SWaitCheckParam() { FromReply(Fresh(false)); }
    explicit SWaitCheckParam(bool bCheckError) { FromReply(Fresh(bCheckError)); }

    // Error word, version and band, in this order; a failing step keeps what earlier ones stored.
    bool ParseInfo(const SPacketData& packet) { return Parse(packet, &flk_reply_parse); }
    bool Parse_VersionInfo(const SPacketData& packet) {
        return Parse(packet, &flk_reply_parse_version);
    }
    bool Parse_BandInfo(const SPacketData& packet) { return Parse(packet, &flk_reply_parse_band); }

    // The index of the next frame to send: the board's resend index after a resend error,
    // otherwise one past the current maximum it reports.
    int GetFrameIndexOfResend() const {
        const flk_reply reply = ToReply();
        return flk_reply_frame_index_of_resend(&reply);
    }
    // Resend or fatal; bits 8 to 13 never count.
    bool ExistError() const {
        const flk_reply reply = ToReply();
        return flk_reply_exist_error(&reply) != 0;
    }
    // Bit 0 or 1.
    bool ExistError_Resend() const {
        const flk_reply reply = ToReply();
        return flk_reply_exist_error_resend(&reply) != 0;
    }
    // Any of bits 2 to 7.
    bool ExistError_Fatal() const {
        const flk_reply reply = ToReply();
        return flk_reply_exist_error_fatal(&reply) != 0;
    }
    bool GetErrorInfo(SBoardErrorInfo& info) const {
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
    // Meaningful only after a successful parse. Zero until then so that copying a fresh object
    // never reads indeterminate values.
    std::uint16_t m_versionHigh{};
    std::uint16_t m_versionLow{};
    std::uint32_t m_bandInfo[4]{};

private:
    using ParseStep = flk_status(FLK_CALL*)(flk_reply*, const std::uint8_t*, std::int32_t);

    static flk_reply Fresh(bool checkError) {
        flk_reply reply{};
        flk_reply_init(&reply, checkError ? 1 : 0);
        return reply;
    }
    bool Parse(const SPacketData& packet, ParseStep step) {
        flk_reply reply = ToReply();
        const bool ok = step(&reply, packet.actualData, packet.actualDataLen) == FLK_OK;
        FromReply(reply);
        return ok;
    }
    bool* Bit(int i) {
        bool* bits[14] = {&m_b0_Re_Frame_Ver_Err,
                          &m_b1_Re_Frame_Lose_Err,
                          &m_b2_L2_Wr_DDR2_over,
                          &m_b3_L2_Rd_DDR2_FIFO_Verr,
                          &m_b4_L2_Rd_DDR2_FIFO_ZhenTou,
                          &m_b5_L2_Rd_DDR2_FIFO_Lose,
                          &m_b6_L2_Rd_DDR2_FIFO_Epty,
                          &m_b7_Rd_DDR2_FIFO_FireOverrun,
                          &m_b8_HB_Fiber_ReData_Zhentou,
                          &m_b9,
                          &m_b10,
                          &m_b11_FirstFrame_FifoAddress_Error,
                          &m_b12_FifoAdress_None_Sequence,
                          &m_b13_DDR2_Empty};
        return bits[i];
    }
    flk_reply ToReply() const {
        flk_reply reply{};
        reply.check_error = m_bCheckError ? 1 : 0;
        reply.frame_index_of_cur_max = m_frameIndexOfCurMax;
        reply.frame_index_of_resend = m_frameIndexOfResend;
        for (int i = 0; i < 14; ++i)
            reply.error_bits[i] = *const_cast<SWaitCheckParam*>(this)->Bit(i) ? 1 : 0;
        reply.version_high = m_versionHigh;
        reply.version_low = m_versionLow;
        for (int i = 0; i < 4; ++i) reply.band_info[i] = m_bandInfo[i];
        return reply;
    }
    void FromReply(const flk_reply& reply) {
        m_bCheckError = reply.check_error != 0;
        m_frameIndexOfCurMax = reply.frame_index_of_cur_max;
        m_frameIndexOfResend = reply.frame_index_of_resend;
        for (int i = 0; i < 14; ++i) *Bit(i) = reply.error_bits[i] != 0;
        m_versionHigh = reply.version_high;
        m_versionLow = reply.version_low;
        for (int i = 0; i < 4; ++i) m_bandInfo[i] = reply.band_info[i];
    }
};
