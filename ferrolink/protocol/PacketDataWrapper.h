// A received board frame in host byte order with an owned copy of its data area. The wrapper holds
// one record and owns its block; awaited replies keep one, the reply parsers and dumps read it.
#pragma once

#include <cstdint>

#include <ferrolink/FerrolinkExport.h>

namespace ferrolink::core {

struct SPacketHeader {
    unsigned char destinationMac[6];
    unsigned char sourceMac[6];
    std::uint16_t frameLength;  // as received, not compared with the captured length
    std::uint16_t dataSymbol;   // a MacDataSymbolType value
    std::uint32_t frameIndex;
    std::uint32_t packetIndex;
};

// Whoever holds a record owns its actualData block; records never share a block.
struct SPacketData : SPacketHeader {
    unsigned char* actualData;  // data area (actual data and padding), null when there is none
    int actualDataLen;          // frame length - 28
};

class CPacketDataWrapper {
public:
    CPacketDataWrapper();
    ~CPacketDataWrapper();
    CPacketDataWrapper(const CPacketDataWrapper&) = delete;
    CPacketDataWrapper& operator=(const CPacketDataWrapper&) = delete;

    bool InitializeByFrameData(const unsigned char* frame, std::uint32_t frameLength);
    const SPacketData& PacketData() const { return m_packetData; }
    // A deep copy owned by the caller, or null.
    CPacketDataWrapper* Clone_PacketDataWrapper() const;

    // Parses into a caller's record; its old block is released first, the new one is the caller's.
    static bool FrameData2PacketData(const unsigned char* frame, std::uint32_t frameLength,
                                     SPacketData& packetData);

private:
    SPacketData* Clone_PacketData() const;
    static bool FrameData2PacketHeader(const unsigned char* frame, std::uint32_t frameLength,
                                       SPacketHeader& header);
    static bool ActualData2PacketData(const unsigned char* data, int length,
                                      SPacketData& packetData);
    static void Release_PacketActualData(SPacketData& packetData);
    // The two parse steps shared by the member and the static form.
    static bool Parse(const unsigned char* frame, std::uint32_t frameLength,
                      SPacketData& packetData);

    SPacketData m_packetData;
};

}  // namespace ferrolink::core
