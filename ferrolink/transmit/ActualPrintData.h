// The host's print data for one bulk transmission: one block of bytes, cut into packets by a list
// of slices (one slice per frame, in sending order). FLK_SendPrintData only reads it.
//
// What holds across the binary boundary: the class is standard-layout and made only of pointers,
// fixed-width integers and our own list and buffer types, so the library (built once) and a host
// (any compiler, standard library, Debug or Release, 64-bit) agree on where every member is. The
// library reads m_printDataBuffer, m_printDataSize, m_packetList (size() and the slices),
// m_packetDataSize and m_startPacketIndex during the call and keeps nothing; all memory the object
// holds is allocated and freed by the code in this header, compiled by the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#include <ferrolink/protocol/SBufferData.h>
#include <ferrolink/transmit/PacketSliceList.h>

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
    CPacketSliceList m_packetList;
    // Capacity basis: every frame of a call gets the data area computed from this size.
    std::int32_t m_packetDataSize = 0;
    // Position in m_packetList of the first packet to send (for a resend from that index).
    std::int32_t m_startPacketIndex = 0;
    // The copy AssignCopy made; empty when the buffer is the host's own.
    SBufferData<unsigned char> m_storage;

    // Points at host memory that outlives the send; nothing is copied.
    void UseBuffer(unsigned char* data, std::int64_t size) {
        m_storage.Release();
        m_printDataBuffer = data;
        m_printDataSize = size;
    }

    // Copies `size` bytes into storage held by this object (at most 2^31 - 1 bytes; more raises
    // std::bad_alloc).
    void AssignCopy(const unsigned char* data, std::size_t size) {
        if (size > 0x7FFFFFFFu) throw std::bad_alloc();
        m_storage.Release();
        if (size > 0) {
            auto* block = new unsigned char[size];
            std::memcpy(block, data, size);
            m_storage.Install(block, static_cast<int>(size));
        }
        m_printDataBuffer = m_storage.m_pBuffer;
        m_printDataSize = static_cast<std::int64_t>(size);
    }

    // Cuts the whole block into consecutive packets of `packetSize` bytes (the last one may be
    // shorter) and makes `packetSize` the capacity basis; starts from packet 0.
    void CutIntoPackets(std::int32_t packetSize) {
        m_packetList.clear();
        m_packetDataSize = packetSize;
        m_startPacketIndex = 0;
        if (packetSize <= 0) return;
        m_packetList.reserve(
            static_cast<std::size_t>((m_printDataSize + packetSize - 1) / packetSize));
        for (std::int64_t at = 0; at < m_printDataSize; at += packetSize) {
            const std::int64_t left = m_printDataSize - at;
            m_packetList.push_back(
                {static_cast<std::int32_t>(at),
                 static_cast<std::int32_t>(left < packetSize ? left : packetSize)});
        }
    }
};

static_assert(std::is_standard_layout<CActualPrintData>::value,
              "the library reads CActualPrintData with its own compiler's layout");
