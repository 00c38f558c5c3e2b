// Static frame operations on the board frame: building frames from a payload, the frame checksum
// over any byte block, appending MAC addresses, and the data-area size rule of print data.
// Called by the host and by the single-frame and bulk senders.
#pragma once

#include <cstdint>
#include <iosfwd>

#include <ferrolink/FerrolinkExport.h>
#include <ferrolink/protocol/BoardFrame.h>
#include <ferrolink/protocol/SBufferData.h>

namespace ferrolink::core {

struct SPacketData;

class CNetworkHelper {
public:
    CNetworkHelper() = default;
    CNetworkHelper(const CNetworkHelper&) = default;
    CNetworkHelper& operator=(const CNetworkHelper&) = default;
    virtual ~CNetworkHelper();

    // Builds one complete frame into `frame` (reusing its block when the length is unchanged).
    static bool PreparePacket(std::uint16_t dataSymbol, std::uint32_t frameIndex,
                              std::uint32_t packetIndex, const unsigned char* actualData,
                              int actualDataLen, std::uint16_t actualDataCapacity,
                              PaddingValueType paddingType, SBufferData<unsigned char>& frame);
    // Same, with the payload in a buffer that is released before returning.
    static bool PreparePacket(std::uint16_t dataSymbol, std::uint32_t frameIndex,
                              std::uint32_t packetIndex, SBufferData<unsigned char> actualData,
                              std::uint16_t actualDataCapacity, PaddingValueType paddingType,
                              SBufferData<unsigned char>& frame);
    // A print-data frame whose data area is sized from `capacityBasis`, not from the data length,
    // so that every frame of a job has one length.
    static bool PreparePacket_Print(int frameIndex, std::uint32_t packetIndex,
                                    PaddingValueType paddingType, int capacityBasis,
                                    const unsigned char* actualData, int actualDataLen,
                                    SBufferData<unsigned char>& frame);
    // Data-area size for print data of this length; -1 when the length is so large that the
    // frame length cannot be represented in an int.
    static int GetActualPrintDataCapacity(int actualDataLen);

    static std::uint32_t CheckSum_Get(const unsigned char* data, int length);
    static void CheckSum_Add(SBufferData<unsigned char>& buffer);
    static bool IsValidCheckSum(const unsigned char* data, int length);
    static bool AddPcMac(SBufferData<unsigned char>& buffer);
    static bool AddBoardMac(SBufferData<unsigned char>& buffer);
    static bool IsBoardMac(const unsigned char* mac);

    // Sending half. `pcapHandle` is the live capture handle (a pcap_t*) of the board's adapter.
    static bool SendOnePacket(void* pcapHandle, const SBufferData<unsigned char>& frame,
                              bool checkCheckSum);
    static bool SendOnePacket_PrintData(void* pcapHandle, std::uint32_t frameIndex,
                                        std::uint32_t packetIndex, PaddingValueType paddingType,
                                        const unsigned char* actualData, int actualDataLen);
    // With `validCheckSum` false the frame goes out with a checksum the board will reject.
    static bool SendOnePacket_PrintData(void* pcapHandle, std::uint32_t frameIndex,
                                        std::uint32_t packetIndex, const unsigned char* actualData,
                                        int actualDataLen, bool validCheckSum);
    // Waits up to `timeoutMs` for any frame from the board MAC to the PC MAC; sends nothing.
    static bool Detect_ReplyPacket(void* pcapHandle, int timeoutMs);

    static bool WriteDataToConsole(const SBufferData<unsigned char>& data);
    static bool WriteDataToConsole(const unsigned char* data, int length);
    static bool WriteDataToConsole(const SPacketData& packetData);
    static bool WriteDataToStream_Txt(const SBufferData<unsigned char>& data, std::ostream& out);
    static bool WriteDataToStream_Txt(const unsigned char* data, int length, std::ostream& out);

private:
    // Grows `buffer` by `extra` zero bytes and returns the first new byte, or null.
    static unsigned char* GrowBuffer(SBufferData<unsigned char>& buffer, int extra);
    static void FillPadding(unsigned char* padding, int count, PaddingValueType paddingType);
};

}  // namespace ferrolink::core

// The bulk-send internals of transmit/ name this class unqualified; they are compiled into the
// library only, never together with the header-only class of the same name.
using ferrolink::core::CNetworkHelper;
