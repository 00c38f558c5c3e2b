// A received board frame in host byte order with an owned copy of its data area. The wrapper holds
// one record and owns its block; awaited replies keep one, the reply parsers and dumps read it.
// Header-only: the library parses (and logs what it refuses), the copy is made and freed here.
#pragma once

#include <cstdint>
#include <cstring>

#include <ferrolink/api/ferrolink.h>

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
    CPacketDataWrapper() : m_packetData() {}
    ~CPacketDataWrapper() { Release_PacketActualData(m_packetData); }
    CPacketDataWrapper(const CPacketDataWrapper&) = delete;
    CPacketDataWrapper& operator=(const CPacketDataWrapper&) = delete;

    bool InitializeByFrameData(const unsigned char* frame, std::uint32_t frameLength) {
        return FrameData2PacketData(frame, frameLength, m_packetData);
    }
    const SPacketData& PacketData() const { return m_packetData; }
    // A deep copy owned by the caller, or null.
    CPacketDataWrapper* Clone_PacketDataWrapper() const {
        auto* copy = new CPacketDataWrapper();
        static_cast<SPacketHeader&>(copy->m_packetData) = m_packetData;
        if (m_packetData.actualData != nullptr && m_packetData.actualDataLen > 0) {
            copy->m_packetData.actualData = new unsigned char[m_packetData.actualDataLen];
            std::memcpy(copy->m_packetData.actualData, m_packetData.actualData,
                        static_cast<std::size_t>(m_packetData.actualDataLen));
            copy->m_packetData.actualDataLen = m_packetData.actualDataLen;
        }
        return copy;
    }

    // Parses into a caller's record; its old block is released first, the new one is the caller's.
    static bool FrameData2PacketData(const unsigned char* frame, std::uint32_t frameLength,
                                     SPacketData& packetData) {
        flk_packet_header header{};
        std::int32_t offset = 0;
        std::int32_t length = 0;
        const flk_status status = flk_frame_parse(frame, frameLength, &header, &offset, &length);
        if (offset == 0) return false;  // not even a header
        std::memcpy(packetData.destinationMac, header.destination_mac, 6);
        std::memcpy(packetData.sourceMac, header.source_mac, 6);
        packetData.frameLength = header.frame_length;
        packetData.dataSymbol = header.data_symbol;
        packetData.frameIndex = header.frame_index;
        packetData.packetIndex = header.packet_index;
        if (status != FLK_OK) return false;  // the header is kept, the old data area too
        Release_PacketActualData(packetData);
        if (length > 0) {
            packetData.actualData = new unsigned char[static_cast<std::size_t>(length)];
            std::memcpy(packetData.actualData, frame + offset, static_cast<std::size_t>(length));
            packetData.actualDataLen = length;
        }
        return true;
    }

private:
    static void Release_PacketActualData(SPacketData& packetData) {
        delete[] packetData.actualData;
        packetData.actualData = nullptr;
        packetData.actualDataLen = 0;
    }

    SPacketData m_packetData;
};
