// The C interface of the board frame: process-wide values, building, parsing, sending, dumps,
// bulk sends and the reading of status replies. Forwards to the core classes.
#include <pcap/pcap.h>

#include <sstream>

#include <ferrolink/api/ApiSupport.h>
#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/protocol/BoardFrame.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/PacketDataWrapper.h>
#include <ferrolink/protocol/WireBytes.h>
#include <ferrolink/reply/SWaitCheckParam.h>
#include <ferrolink/transmit/Ferrolink.h>

namespace core = ferrolink::core;
using ferrolink::api::CopyText;
using ferrolink::api::Guard;
using ferrolink::api::GuardValue;
using ferrolink::api::Status;

namespace {

// Hands the caller what the core left in its block: the frame, or after a refusal that came once
// the block was made, the partial frame the core leaves there too (*length 0: untouched).
flk_status CopyFrame(bool built, const SBufferData<unsigned char>& block, uint8_t* frame,
                     int32_t capacity, int32_t* length) {
    *length = 0;
    if (block.m_count > 0 && block.m_count <= capacity) {
        std::memcpy(frame, block.m_pBuffer, static_cast<std::size_t>(block.m_count));
        *length = block.m_count;
    }
    return built ? FLK_OK : FLK_FAILED;
}

bool ValidData(const uint8_t* data, int32_t length) {
    return length >= 0 && (data != nullptr || length == 0);
}

// The frames of one thread are built in one block, emptied before each frame so that a refusal
// shows whether the core had made the frame's block.
SBufferData<unsigned char>& BuildBuffer() {
    thread_local SBufferData<unsigned char> buffer;
    buffer.Release();
    return buffer;
}

void ToReply(const core::SWaitCheckParam& from, flk_reply* to) {
    to->check_error = from.m_bCheckError ? 1 : 0;
    to->frame_index_of_cur_max = from.m_frameIndexOfCurMax;
    to->frame_index_of_resend = from.m_frameIndexOfResend;
    const bool bits[14] = {from.m_b0_Re_Frame_Ver_Err,
                           from.m_b1_Re_Frame_Lose_Err,
                           from.m_b2_L2_Wr_DDR2_over,
                           from.m_b3_L2_Rd_DDR2_FIFO_Verr,
                           from.m_b4_L2_Rd_DDR2_FIFO_ZhenTou,
                           from.m_b5_L2_Rd_DDR2_FIFO_Lose,
                           from.m_b6_L2_Rd_DDR2_FIFO_Epty,
                           from.m_b7_Rd_DDR2_FIFO_FireOverrun,
                           from.m_b8_HB_Fiber_ReData_Zhentou,
                           from.m_b9,
                           from.m_b10,
                           from.m_b11_FirstFrame_FifoAddress_Error,
                           from.m_b12_FifoAdress_None_Sequence,
                           from.m_b13_DDR2_Empty};
    for (int i = 0; i < 14; ++i) to->error_bits[i] = bits[i] ? 1 : 0;
    to->version_high = from.m_versionHigh;
    to->version_low = from.m_versionLow;
    for (int i = 0; i < 4; ++i) to->band_info[i] = from.m_bandInfo[i];
}

core::SWaitCheckParam FromReply(const flk_reply& from) {
    core::SWaitCheckParam to(from.check_error != 0);
    to.m_frameIndexOfCurMax = from.frame_index_of_cur_max;
    to.m_frameIndexOfResend = from.frame_index_of_resend;
    bool* bits[14] = {&to.m_b0_Re_Frame_Ver_Err,
                      &to.m_b1_Re_Frame_Lose_Err,
                      &to.m_b2_L2_Wr_DDR2_over,
                      &to.m_b3_L2_Rd_DDR2_FIFO_Verr,
                      &to.m_b4_L2_Rd_DDR2_FIFO_ZhenTou,
                      &to.m_b5_L2_Rd_DDR2_FIFO_Lose,
                      &to.m_b6_L2_Rd_DDR2_FIFO_Epty,
                      &to.m_b7_Rd_DDR2_FIFO_FireOverrun,
                      &to.m_b8_HB_Fiber_ReData_Zhentou,
                      &to.m_b9,
                      &to.m_b10,
                      &to.m_b11_FirstFrame_FifoAddress_Error,
                      &to.m_b12_FifoAdress_None_Sequence,
                      &to.m_b13_DDR2_Empty};
    for (int i = 0; i < 14; ++i) *bits[i] = from.error_bits[i] != 0;
    to.m_versionHigh = from.version_high;
    to.m_versionLow = from.version_low;
    for (int i = 0; i < 4; ++i) to.m_bandInfo[i] = from.band_info[i];
    return to;
}

// A reply's data area as the core's parsers read it; the block stays the caller's.
core::SPacketData DataArea(const uint8_t* data, int32_t length) {
    core::SPacketData packet{};
    packet.actualData = const_cast<unsigned char*>(data);
    packet.actualDataLen = data != nullptr ? length : 0;
    return packet;
}

template <class Parse>
flk_status ParseReply(flk_reply* reply, const uint8_t* data, int32_t length, Parse parse) {
    if (reply == nullptr || length < 0) return FLK_INVALID_ARGUMENT;
    return Guard([&] {
        core::SWaitCheckParam param = FromReply(*reply);
        const bool ok = parse(param, DataArea(data, length));
        ToReply(param, reply);  // a failing step keeps what earlier steps stored
        return Status(ok);
    });
}

}  // namespace

extern "C" {

FLK_API int32_t FLK_CALL flk_frame_maximum_size_get(void) {
    return core::CConstValue::GetFrameMaximumSize();
}
FLK_API void FLK_CALL flk_frame_maximum_size_set(int32_t size) {
    core::CConstValue::SetFrameMaximumSize(size);
}
FLK_API const uint8_t* FLK_CALL flk_pc_mac(void) {
    return core::CConstValue::GetPcMac();
}
FLK_API const uint8_t* FLK_CALL flk_board_mac(void) {
    return core::CConstValue::BoardMac_Get();
}
FLK_API flk_status FLK_CALL flk_board_mac_set(const uint8_t* mac, int32_t length) {
    return Guard([&] {
        SBufferData<unsigned char> copy;
        if (mac != nullptr && length == 6) {
            if (!copy.AllocateBuffer(6)) return FLK_NO_MEMORY;
            std::memcpy(copy.m_pBuffer, mac, 6);
        }
        // The core refuses (and logs) anything but six bytes.
        return core::CConstValue::BoardMac_Set(copy) ? FLK_OK : FLK_INVALID_ARGUMENT;
    });
}
FLK_API void FLK_CALL flk_board_mac_first_byte_update(uint8_t first) {
    core::CConstValue::BoardMac_FirstByte_Update(first);
}

FLK_API flk_status FLK_CALL flk_frame_build(uint16_t data_symbol, uint32_t frame_index,
                                            uint32_t packet_index, const uint8_t* data,
                                            int32_t data_length, uint16_t data_capacity,
                                            int32_t padding, uint8_t* frame, int32_t capacity,
                                            int32_t* length) {
    if (length == nullptr || capacity < 0 || (frame == nullptr && capacity > 0))
        return FLK_INVALID_ARGUMENT;
    return Guard([&] {
        const int32_t needed = data_capacity + core::CConstValue::GetFrameHeaderAndCheckSumSize();
        // What the core refuses before making the block goes to it as is, to be logged there.
        if (data_capacity <= ferrolink::protocol::frame::kMaximumActualDataCapacity &&
            ValidData(data, data_length) && needed > capacity) {
            *length = needed;
            return FLK_BUFFER_TOO_SMALL;
        }
        SBufferData<unsigned char>& block = BuildBuffer();
        const bool built = core::CNetworkHelper::PreparePacket(
            data_symbol, frame_index, packet_index, data, data_length, data_capacity,
            static_cast<PaddingValueType>(padding), block);
        return CopyFrame(built, block, frame, capacity, length);
    });
}

FLK_API flk_status FLK_CALL flk_frame_build_print(int32_t frame_index, uint32_t packet_index,
                                                  int32_t padding, int32_t capacity_basis,
                                                  const uint8_t* data, int32_t data_length,
                                                  uint8_t* frame, int32_t capacity,
                                                  int32_t* length) {
    if (length == nullptr || capacity < 0 || (frame == nullptr && capacity > 0))
        return FLK_INVALID_ARGUMENT;
    return Guard([&] {
        const int dataCapacity = core::CNetworkHelper::GetActualPrintDataCapacity(capacity_basis);
        if (dataCapacity >= 0 &&
            dataCapacity <= ferrolink::protocol::frame::kMaximumActualDataCapacity &&
            ValidData(data, data_length)) {
            const int32_t needed =
                dataCapacity + core::CConstValue::GetFrameHeaderAndCheckSumSize();
            if (needed > capacity) {
                *length = needed;
                return FLK_BUFFER_TOO_SMALL;
            }
        }
        SBufferData<unsigned char>& block = BuildBuffer();
        const bool built = core::CNetworkHelper::PreparePacket_Print(
            frame_index, packet_index, static_cast<PaddingValueType>(padding), capacity_basis, data,
            data_length, block);
        return CopyFrame(built, block, frame, capacity, length);
    });
}

FLK_API int32_t FLK_CALL flk_print_data_capacity(int32_t data_length) {
    return GuardValue<int32_t>(
        -1, [&] { return core::CNetworkHelper::GetActualPrintDataCapacity(data_length); });
}
FLK_API uint32_t FLK_CALL flk_checksum_get(const uint8_t* data, int32_t length) {
    return core::CNetworkHelper::CheckSum_Get(data, length);
}
FLK_API int32_t FLK_CALL flk_checksum_is_valid(const uint8_t* data, int32_t length) {
    return core::CNetworkHelper::IsValidCheckSum(data, length) ? 1 : 0;
}
FLK_API int32_t FLK_CALL flk_is_board_mac(const uint8_t* mac) {
    return core::CNetworkHelper::IsBoardMac(mac) ? 1 : 0;
}
FLK_API int32_t FLK_CALL flk_is_pc_mac(const uint8_t* mac) {
    return core::CConstValue::IsPcMac(mac) ? 1 : 0;
}

FLK_API flk_status FLK_CALL flk_wire_store32(uint8_t* bytes, int32_t length, int32_t offset,
                                             uint32_t value) {
    // A negative offset converts to one far past the end, which the writer refuses.
    return ferrolink::protocol::CWireWriter(bytes, length)
                   .Store32(static_cast<std::size_t>(offset), value)
               ? FLK_OK
               : FLK_INVALID_ARGUMENT;
}

FLK_API flk_status FLK_CALL flk_frame_parse(const uint8_t* frame, uint32_t frame_length,
                                            flk_packet_header* header, int32_t* data_offset,
                                            int32_t* data_length) {
    if (header == nullptr || data_offset == nullptr || data_length == nullptr)
        return FLK_INVALID_ARGUMENT;
    return Guard([&] {
        core::SPacketData packet{};
        const bool ok = core::CPacketDataWrapper::FrameData2PacketData(frame, frame_length, packet);
        delete[] packet.actualData;  // the caller copies the data area from its own frame
        // The header is read before the data area is judged: a refused data area still gives it.
        const bool headerRead =
            frame != nullptr &&
            frame_length >= static_cast<uint32_t>(ferrolink::protocol::frame::kActualDataOffset);
        *data_offset = headerRead ? ferrolink::protocol::frame::kActualDataOffset : 0;
        *data_length = ok ? packet.actualDataLen : 0;
        if (headerRead) {
            std::memcpy(header->destination_mac, packet.destinationMac, 6);
            std::memcpy(header->source_mac, packet.sourceMac, 6);
            header->frame_length = packet.frameLength;
            header->data_symbol = packet.dataSymbol;
            header->frame_index = packet.frameIndex;
            header->packet_index = packet.packetIndex;
        }
        return ok ? FLK_OK : FLK_FAILED;
    });
}

FLK_API flk_status FLK_CALL flk_send_frame(void* pcap_handle, const uint8_t* frame, int32_t length,
                                           int32_t check_checksum) {
    if (length < 0 || (frame == nullptr && length > 0)) return FLK_INVALID_ARGUMENT;
    return Guard([&] {
        SBufferData<unsigned char> copy;
        if (length > 0) {
            if (!copy.AllocateBuffer(length)) return FLK_NO_MEMORY;
            std::memcpy(copy.m_pBuffer, frame, static_cast<std::size_t>(length));
        }
        return Status(core::CNetworkHelper::SendOnePacket(pcap_handle, copy, check_checksum != 0));
    });
}

FLK_API flk_status FLK_CALL flk_send_print_frame(void* pcap_handle, uint32_t frame_index,
                                                 uint32_t packet_index, int32_t padding,
                                                 const uint8_t* data, int32_t data_length) {
    return Guard([&] {
        return Status(core::CNetworkHelper::SendOnePacket_PrintData(
            pcap_handle, frame_index, packet_index, static_cast<PaddingValueType>(padding), data,
            data_length));
    });
}

FLK_API flk_status FLK_CALL flk_send_print_frame_checked(void* pcap_handle, uint32_t frame_index,
                                                         uint32_t packet_index, const uint8_t* data,
                                                         int32_t data_length,
                                                         int32_t valid_checksum) {
    return Guard([&] {
        return Status(core::CNetworkHelper::SendOnePacket_PrintData(
            pcap_handle, frame_index, packet_index, data, data_length, valid_checksum != 0));
    });
}

FLK_API flk_status FLK_CALL flk_detect_reply(void* pcap_handle, int32_t timeout_ms) {
    return Guard([&] {
        return core::CNetworkHelper::Detect_ReplyPacket(pcap_handle, timeout_ms) ? FLK_OK
                                                                                 : FLK_TIMEOUT;
    });
}

FLK_API flk_status FLK_CALL flk_send_print_data(void* pcap_handle, const uint8_t* buffer,
                                                int64_t buffer_size, const flk_packet_slice* slices,
                                                int32_t count, int32_t capacity_basis,
                                                int32_t start_index, int32_t frame_index) {
    if (count < 0 || (slices == nullptr && count > 0) || buffer_size < 0)
        return FLK_INVALID_ARGUMENT;
    return Guard([&] {
        CActualPrintData printData;
        printData.UseBuffer(const_cast<unsigned char*>(buffer), buffer_size);
        printData.m_packetList.reserve(static_cast<std::size_t>(count));
        for (int32_t i = 0; i < count; ++i)
            printData.m_packetList.push_back({slices[i].offset, slices[i].length});
        printData.m_packetDataSize = capacity_basis;
        printData.m_startPacketIndex = start_index;
        return Status(FLK_SendPrintData(pcap_handle, &printData, frame_index));
    });
}

FLK_API flk_status FLK_CALL flk_dump_console(const uint8_t* data, int32_t length) {
    return Guard([&] { return Status(core::CNetworkHelper::WriteDataToConsole(data, length)); });
}

FLK_API flk_status FLK_CALL flk_dump_console_packet(const flk_packet_header* header,
                                                    const uint8_t* data, int32_t data_length) {
    if (header == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard([&] {
        core::SPacketData packet = DataArea(data, data_length);
        std::memcpy(packet.destinationMac, header->destination_mac, 6);
        std::memcpy(packet.sourceMac, header->source_mac, 6);
        packet.frameLength = header->frame_length;
        packet.dataSymbol = header->data_symbol;
        packet.frameIndex = header->frame_index;
        packet.packetIndex = header->packet_index;
        return Status(core::CNetworkHelper::WriteDataToConsole(packet));
    });
}

FLK_API flk_status FLK_CALL flk_dump_text(const uint8_t* data, int32_t length, char* text,
                                          int32_t capacity, int32_t* text_length) {
    return Guard([&] {
        std::ostringstream out;
        core::CNetworkHelper::WriteDataToStream_Txt(data, length, out);
        return CopyText(out.str(), text, capacity, text_length);
    });
}

FLK_API void FLK_CALL flk_reply_init(flk_reply* reply, int32_t check_error) {
    if (reply == nullptr) return;
    *reply = flk_reply{};
    ToReply(core::SWaitCheckParam(check_error != 0), reply);
}

FLK_API flk_status FLK_CALL flk_reply_parse(flk_reply* reply, const uint8_t* data,
                                            int32_t data_length) {
    return ParseReply(
        reply, data, data_length,
        [](core::SWaitCheckParam& p, const core::SPacketData& d) { return p.ParseInfo(d); });
}
FLK_API flk_status FLK_CALL flk_reply_parse_version(flk_reply* reply, const uint8_t* data,
                                                    int32_t data_length) {
    return ParseReply(reply, data, data_length,
                      [](core::SWaitCheckParam& p, const core::SPacketData& d) {
                          return p.Parse_VersionInfo(d);
                      });
}
FLK_API flk_status FLK_CALL flk_reply_parse_band(flk_reply* reply, const uint8_t* data,
                                                 int32_t data_length) {
    return ParseReply(
        reply, data, data_length,
        [](core::SWaitCheckParam& p, const core::SPacketData& d) { return p.Parse_BandInfo(d); });
}
FLK_API int32_t FLK_CALL flk_reply_frame_index_of_resend(const flk_reply* reply) {
    if (reply == nullptr) return 0;
    return GuardValue<int32_t>(0, [&] { return FromReply(*reply).GetFrameIndexOfResend(); });
}
FLK_API int32_t FLK_CALL flk_reply_exist_error(const flk_reply* reply) {
    return reply != nullptr && FromReply(*reply).ExistError() ? 1 : 0;
}
FLK_API int32_t FLK_CALL flk_reply_exist_error_resend(const flk_reply* reply) {
    return reply != nullptr && FromReply(*reply).ExistError_Resend() ? 1 : 0;
}
FLK_API int32_t FLK_CALL flk_reply_exist_error_fatal(const flk_reply* reply) {
    return reply != nullptr && FromReply(*reply).ExistError_Fatal() ? 1 : 0;
}

}  // extern "C"
