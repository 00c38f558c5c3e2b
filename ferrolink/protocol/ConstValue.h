// Home of the board frame's geometry and of the two protocol MAC addresses (PC and board) between
// which every board frame travels. Process-wide, unlocked: the host and adapter detection write,
// the send and receive paths read.
#pragma once

#include <ferrolink/FerrolinkExport.h>
#include <ferrolink/protocol/SBufferData.h>

namespace ferrolink::core {

class CConstValue {
public:
    CConstValue() = default;
    CConstValue(const CConstValue&) = default;
    CConstValue& operator=(const CConstValue&) = default;
    virtual ~CConstValue();

    static int GetFrameHeaderSize() { return 24; }
    static int GetFrameMinimumSize() { return 88; }
    static int GetFrameMaximumSize();
    static void SetFrameMaximumSize(int size);
    static int GetFrameCheckSumSize() { return 4; }
    static int GetFrameHeaderAndCheckSumSize() { return 28; }
    static int GetFrameActualPrintDataMaximizeSize();
    static int MacByteLen_Get() { return 6; }

    static const unsigned char* GetPcMac();
    static bool IsPcMac(const unsigned char* mac);
    static const unsigned char* BoardMac_Get();
    static bool BoardMac_Set(const SBufferData<unsigned char>& mac);
    static bool BoardMac_FirstByte_Update(unsigned char first);

private:
    static const unsigned char m_pcMac[6];
    static unsigned char m_boardMac[6];
    static int m_frameMaximumSize;
};

}  // namespace ferrolink::core

// The bulk-send internals of transmit/ name this class unqualified; they are compiled into the
// library only, never together with the header-only class of the same name.
using ferrolink::core::CConstValue;
