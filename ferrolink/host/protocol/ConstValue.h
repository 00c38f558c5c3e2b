// Home of the board frame's geometry and of the two protocol MAC addresses (PC and board) between
// which every board frame travels. Header-only over the C interface: the maximum frame size and the
// MAC addresses are the library's one process-wide copy, so what a host sets here is what the
// library's frames carry. Unlocked: the host and adapter detection write, the send and receive
// paths read.
#pragma once

#include <ferrolink/api/ferrolink.h>
#include <ferrolink/protocol/SBufferData.h>

class CConstValue {
public:
    CConstValue() = default;
    CConstValue(const CConstValue&) = default;
    CConstValue& operator=(const CConstValue&) = default;
    virtual ~CConstValue() = default;

    static int GetFrameHeaderSize() { return 24; }
    static int GetFrameMinimumSize() { return 88; }
    static int GetFrameMaximumSize() { return flk_frame_maximum_size_get(); }
    static void SetFrameMaximumSize(int size) { flk_frame_maximum_size_set(size); }
    static int GetFrameCheckSumSize() { return 4; }
    static int GetFrameHeaderAndCheckSumSize() { return 28; }
    static int GetFrameActualPrintDataMaximizeSize() {
        return GetFrameMaximumSize() - GetFrameHeaderAndCheckSumSize();
    }
    static int MacByteLen_Get() { return 6; }

    static const unsigned char* GetPcMac() { return flk_pc_mac(); }
    static bool IsPcMac(const unsigned char* mac) { return flk_is_pc_mac(mac) != 0; }
    static const unsigned char* BoardMac_Get() { return flk_board_mac(); }
    static bool BoardMac_Set(const SBufferData<unsigned char>& mac) {
        return flk_board_mac_set(mac.m_pBuffer, mac.m_count) == FLK_OK;
    }
    static bool BoardMac_FirstByte_Update(unsigned char first) {
        flk_board_mac_first_byte_update(first);
        return true;
    }
};
