// The board errors of one status reply that the host can take away: error bits 2 to 13, filled by
// SWaitCheckParam::GetErrorInfo. The two resend bits are not here; the host asks for them directly.
#pragma once

struct SBoardErrorInfo {
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
};
