// Static frame operations on the board frame: building frames from a payload, the frame checksum
// over any byte block, appending MAC addresses, the data-area size rule of print data, and the
// single-frame sends and dumps. Header-only over the C interface: frames are built by the library
// into blocks this header allocates.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>

#include <ferrolink/api/ferrolink.h>
#include <ferrolink/protocol/BoardFrame.h>
#include <ferrolink/protocol/PacketDataWrapper.h>
#include <ferrolink/protocol/SBufferData.h>
#include <ferrolink/protocol/WireBytes.h>

class CNetworkHelper {
public:
    CNetworkHelper() = default;
    CNetworkHelper(const CNetworkHelper&) = default;
    CNetworkHelper& operator=(const CNetworkHelper&) = default;
    virtual ~CNetworkHelper() = default;

    // Builds one complete frame into `frame` (reusing its block when the length is unchanged).
    static bool PreparePacket(std::uint16_t dataSymbol, std::uint32_t frameIndex,
                              std::uint32_t packetIndex, const unsigned char* actualData,
                              int actualDataLen, std::uint16_t actualDataCapacity,
                              PaddingValueType paddingType, SBufferData<unsigned char>& frame) {
        return BuildInto(frame, [&](unsigned char* out, int capacity, std::int32_t* length) {
            return flk_frame_build(dataSymbol, frameIndex, packetIndex, actualData, actualDataLen,
                                   actualDataCapacity, paddingType, out, capacity, length);
        });
    }
    // Same, with the payload in a buffer that is released before returning.
    static bool PreparePacket(std::uint16_t dataSymbol, std::uint32_t frameIndex,
                              std::uint32_t packetIndex, SBufferData<unsigned char> actualData,
                              std::uint16_t actualDataCapacity, PaddingValueType paddingType,
                              SBufferData<unsigned char>& frame) {
        return PreparePacket(dataSymbol, frameIndex, packetIndex, actualData.m_pBuffer,
                             actualData.m_count, actualDataCapacity, paddingType, frame);
    }
    // A print-data frame whose data area is sized from `capacityBasis`, not from the data length,
    // so that every frame of a job has one length.
    static bool PreparePacket_Print(int frameIndex, std::uint32_t packetIndex,
                                    PaddingValueType paddingType, int capacityBasis,
                                    const unsigned char* actualData, int actualDataLen,
                                    SBufferData<unsigned char>& frame) {
        return BuildInto(frame, [&](unsigned char* out, int capacity, std::int32_t* length) {
            return flk_frame_build_print(frameIndex, packetIndex, paddingType, capacityBasis,
                                         actualData, actualDataLen, out, capacity, length);
        });
    }
    // Data-area size for print data of this length; -1 when the length is so large that the
    // frame length cannot be represented in an int.
    static int GetActualPrintDataCapacity(int actualDataLen) {
        return flk_print_data_capacity(actualDataLen);
    }

    static std::uint32_t CheckSum_Get(const unsigned char* data, int length) {
        return flk_checksum_get(data, length);
    }
    static void CheckSum_Add(SBufferData<unsigned char>& buffer) {
        const std::uint32_t checksum = CheckSum_Get(buffer.m_pBuffer, buffer.m_count);
        if (unsigned char* tail = GrowBuffer(buffer, 4))
            ferrolink::protocol::CWireWriter(tail, 4).Store32(0, checksum);
    }
    static bool IsValidCheckSum(const unsigned char* data, int length) {
        return flk_checksum_is_valid(data, length) != 0;
    }
    static bool AddPcMac(SBufferData<unsigned char>& buffer) {
        unsigned char* tail = GrowBuffer(buffer, 6);
        if (tail == nullptr) return false;
        std::memcpy(tail, flk_pc_mac(), 6);
        return true;
    }
    static bool AddBoardMac(SBufferData<unsigned char>& buffer) {
        unsigned char* tail = GrowBuffer(buffer, 6);
        if (tail == nullptr) return false;
        std::memcpy(tail, flk_board_mac(), 6);
        return true;
    }
    static bool IsBoardMac(const unsigned char* mac) { return flk_is_board_mac(mac) != 0; }

    // Sending half. `pcapHandle` is the live capture handle (a pcap_t*) of the board's adapter.
    static bool SendOnePacket(void* pcapHandle, const SBufferData<unsigned char>& frame,
                              bool checkCheckSum) {
        return flk_send_frame(pcapHandle, frame.m_pBuffer, frame.m_count, checkCheckSum) == FLK_OK;
    }
    static bool SendOnePacket_PrintData(void* pcapHandle, std::uint32_t frameIndex,
                                        std::uint32_t packetIndex, PaddingValueType paddingType,
                                        const unsigned char* actualData, int actualDataLen) {
        return flk_send_print_frame(pcapHandle, frameIndex, packetIndex, paddingType, actualData,
                                    actualDataLen) == FLK_OK;
    }
    // With `validCheckSum` false the frame goes out with a checksum the board will reject.
    static bool SendOnePacket_PrintData(void* pcapHandle, std::uint32_t frameIndex,
                                        std::uint32_t packetIndex, const unsigned char* actualData,
                                        int actualDataLen, bool validCheckSum) {
        return flk_send_print_frame_checked(pcapHandle, frameIndex, packetIndex, actualData,
                                            actualDataLen, validCheckSum ? 1 : 0) == FLK_OK;
    }
    // Waits up to `timeoutMs` for any frame from the board MAC to the PC MAC; sends nothing.
    static bool Detect_ReplyPacket(void* pcapHandle, int timeoutMs) {
        return flk_detect_reply(pcapHandle, timeoutMs) == FLK_OK;
    }

    static bool WriteDataToConsole(const SBufferData<unsigned char>& data) {
        return WriteDataToConsole(data.m_pBuffer, data.m_count);
    }
    static bool WriteDataToConsole(const unsigned char* data, int length) {
        return flk_dump_console(data, length) == FLK_OK;
    }
    static bool WriteDataToConsole(const SPacketData& packetData) {
        flk_packet_header header{};
        std::memcpy(header.destination_mac, packetData.destinationMac, 6);
        std::memcpy(header.source_mac, packetData.sourceMac, 6);
        header.frame_length = packetData.frameLength;
        header.data_symbol = packetData.dataSymbol;
        header.frame_index = packetData.frameIndex;
        header.packet_index = packetData.packetIndex;
        return flk_dump_console_packet(&header, packetData.actualData, packetData.actualDataLen) ==
               FLK_OK;
    }
    static bool WriteDataToStream_Txt(const SBufferData<unsigned char>& data, std::ofstream& out) {
        return WriteDataToStream_Txt(data.m_pBuffer, data.m_count, out);
    }
    static bool WriteDataToStream_Txt(const unsigned char* data, int length, std::ofstream& out) {
        std::int32_t needed = 0;
        std::string text(256, '\0');
        flk_status status =
            flk_dump_text(data, length, &text[0], static_cast<std::int32_t>(text.size()), &needed);
        if (status == FLK_BUFFER_TOO_SMALL) {
            text.assign(static_cast<std::size_t>(needed) + 1, '\0');
            status = flk_dump_text(data, length, &text[0], static_cast<std::int32_t>(text.size()),
                                   &needed);
        }
        if (status != FLK_OK) return false;
        out.write(text.data(), needed);
        return true;
    }

private:
    // Lets the library build into the frame's block, sized to the frame it reports.
    template <class Build>
    static bool BuildInto(SBufferData<unsigned char>& frame, Build build) {
        std::int32_t length = 0;
        flk_status status = build(frame.m_pBuffer, frame.m_count, &length);
        if (status == FLK_BUFFER_TOO_SMALL) {
            if (!frame.AllocateBuffer(length)) return false;
            status = build(frame.m_pBuffer, frame.m_count, &length);
        }
        if (status != FLK_OK && length == 0) return false;  // refused, frame untouched
        if (length != frame.m_count) {  // built into a longer block: keep exactly the frame
            unsigned char* block = SBufferData<unsigned char>::New_ElementBuffer(length);
            if (block == nullptr) return false;
            std::memcpy(block, frame.m_pBuffer, static_cast<std::size_t>(length));
            frame.Install(block, length);
        }
        return status == FLK_OK;
    }
    // Grows `buffer` by `extra` zero bytes and returns the first new byte, or null.
    static unsigned char* GrowBuffer(SBufferData<unsigned char>& buffer, int extra) {
        const int oldCount = buffer.m_count;
        if (oldCount > std::numeric_limits<int>::max() - extra) {
            FLK_LOG(2) << "failure";
            return nullptr;
        }
        unsigned char* block = SBufferData<unsigned char>::New_ElementBuffer(oldCount + extra);
        if (block == nullptr) return nullptr;
        if (oldCount > 0) std::memcpy(block, buffer.m_pBuffer, static_cast<std::size_t>(oldCount));
        std::memset(block + oldCount, 0, static_cast<std::size_t>(extra));
        buffer.Install(block, oldCount + extra);
        return block + oldCount;
    }
};
