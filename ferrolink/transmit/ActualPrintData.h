// The host's print data for one bulk transmission: one block of bytes, cut into packets by a list
// of slices (one slice per frame, in sending order). FLK_SendPrintData only reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct SPacketSlice {
    std::int32_t offset = 0;  // first byte of the packet in m_printDataBuffer
    std::int32_t length = 0;  // bytes in the packet
};

class CActualPrintData {
public:
    CActualPrintData() = default;
    // A copy would point into the original's storage; moving keeps the block with its pointer.
    CActualPrintData(const CActualPrintData&) = delete;
    CActualPrintData& operator=(const CActualPrintData&) = delete;
    CActualPrintData(CActualPrintData&&) = default;
    CActualPrintData& operator=(CActualPrintData&&) = default;

    // The block all slices point into. Either the host's own memory (set with UseBuffer, which the
    // host keeps alive during the send) or a copy held here (AssignCopy).
    unsigned char* m_printDataBuffer = nullptr;
    // Bytes available at m_printDataBuffer, if the host gives them: slices outside are then
    // refused. 0 (never set) sends every slice as given.
    std::int64_t m_printDataSize = 0;
    // One slice per frame; a slice's position is its frame's packetIndex.
    std::vector<SPacketSlice> m_packetList;
    // Capacity basis: every frame of a call gets the data area computed from this size.
    std::int32_t m_packetDataSize = 0;
    // Position in m_packetList of the first packet to send (for a resend from that index).
    std::int32_t m_startPacketIndex = 0;

    // Points at host memory that outlives the send; nothing is copied.
    void UseBuffer(unsigned char* data, std::int64_t size) {
        m_storage.clear();
        m_printDataBuffer = data;
        m_printDataSize = size;
    }

    // Copies `size` bytes into storage held by this object.
    void AssignCopy(const unsigned char* data, std::size_t size) {
        m_storage.assign(data, data + size);
        m_printDataBuffer = m_storage.data();
        m_printDataSize = static_cast<std::int64_t>(size);
    }

    // Cuts the whole block into consecutive packets of `packetSize` bytes (the last one may be
    // shorter) and makes `packetSize` the capacity basis; starts from packet 0.
    void CutIntoPackets(std::int32_t packetSize) {
        m_packetList.clear();
        m_packetDataSize = packetSize;
        m_startPacketIndex = 0;
        if (packetSize <= 0) return;
        for (std::int64_t at = 0; at < m_printDataSize; at += packetSize) {
            const std::int64_t left = m_printDataSize - at;
            m_packetList.push_back({static_cast<std::int32_t>(at),
                                    static_cast<std::int32_t>(left < packetSize ? left : packetSize)});
        }
    }

private:
    std::vector<unsigned char> m_storage;
};
