// The sending half of CNetworkHelper: single frames onto the wire, waiting for the board, dumps.
#include <ferrolink/protocol/NetworkHelper.h>

#include <pcap/pcap.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/platform/Link.h>
#include <ferrolink/platform/MonotonicClock.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/PacketDataWrapper.h>

namespace ferrolink::core {

bool CNetworkHelper::SendOnePacket(void* pcapHandle, const SBufferData<unsigned char>& frame,
                                   bool checkCheckSum) {
    if (pcapHandle == nullptr || frame.m_count < 1) {
        FLK_LOG(2) << "failure";
        return false;
    }
    if (checkCheckSum && !IsValidCheckSum(frame.m_pBuffer, frame.m_count)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    auto* handle = static_cast<pcap_t*>(pcapHandle);
    if (pcap_sendpacket(handle, frame.m_pBuffer, frame.m_count) == 0) return true;
    const std::string error = pcap_geterr(handle);
    FLK_LOG(2) << "Error sending the packet: error = " << error.substr(0, 19);
    return false;
}

bool CNetworkHelper::SendOnePacket_PrintData(void* pcapHandle, std::uint32_t frameIndex,
                                             std::uint32_t packetIndex,
                                             PaddingValueType paddingType,
                                             const unsigned char* actualData, int actualDataLen) {
    if (pcapHandle == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    SBufferData<unsigned char> frame;
    const int capacity = GetActualPrintDataCapacity(actualDataLen);
    if (capacity < 0 ||
        !PreparePacket(MacDataSymbol_PrintData, frameIndex, packetIndex, actualData, actualDataLen,
                       static_cast<std::uint16_t>(capacity), paddingType, frame)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return SendOnePacket(pcapHandle, frame, true);
}

bool CNetworkHelper::SendOnePacket_PrintData(void* pcapHandle, std::uint32_t frameIndex,
                                             std::uint32_t packetIndex,
                                             const unsigned char* actualData, int actualDataLen,
                                             bool validCheckSum) {
    SBufferData<unsigned char> frame;
    const int capacity = GetActualPrintDataCapacity(actualDataLen);
    if (capacity < 0 ||
        !PreparePacket(MacDataSymbol_PrintData, frameIndex, packetIndex, actualData, actualDataLen,
                       static_cast<std::uint16_t>(capacity), PaddingValue_Zero, frame)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    if (!validCheckSum) {
        // Add one to the checksum read as a little-endian number: the first checksum byte goes up,
        // and the carry moves on only when it wraps.
        unsigned char* checksum = frame.m_pBuffer + frame.m_count - 4;
        for (int i = 0; i < 4; ++i) {
            if (++checksum[i] != 0) break;
        }
    }
    if (!SendOnePacket(pcapHandle, frame, validCheckSum)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return true;
}

bool CNetworkHelper::Detect_ReplyPacket(void* pcapHandle, int timeoutMs) {
    if (pcapHandle == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    auto* handle = static_cast<pcap_t*>(pcapHandle);
    const std::uint64_t start = ferrolink::platform::CMonotonicClock::Milliseconds();
    for (;;) {
        if (static_cast<long long>(ferrolink::platform::CMonotonicClock::Milliseconds() - start) >=
            timeoutMs)
            return false;
        struct pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        const int result = ferrolink::platform::CLink::ReadOne(handle, &header, &data);
        if (result < 0) return false;
        if (result == 0 || header == nullptr || data == nullptr) continue;
        if (header->caplen >= 12 && CConstValue::IsPcMac(data) && IsBoardMac(data + 6)) return true;
    }
}

bool CNetworkHelper::WriteDataToConsole(const SBufferData<unsigned char>& data) {
    return WriteDataToConsole(data.m_pBuffer, data.m_count);
}

bool CNetworkHelper::WriteDataToConsole(const unsigned char* data, int length) {
    std::cout << std::endl;
    for (int i = 0; data != nullptr && i < length; ++i) {
        std::printf("%.2x ", data[i]);
        if ((i + 1) % 16 == 0) {
            std::fflush(stdout);
            std::cout << std::endl;
        }
    }
    std::fflush(stdout);
    std::cout << std::endl << std::endl;
    return true;
}

bool CNetworkHelper::WriteDataToConsole(const SPacketData& packetData) {
    std::cout << std::endl;
    std::cout << "dataSymbol = " << packetData.dataSymbol << std::endl;
    std::cout << "frameIndex = " << packetData.frameIndex << std::endl;
    std::cout << std::endl << std::endl;
    return true;
}

bool CNetworkHelper::WriteDataToStream_Txt(const SBufferData<unsigned char>& data,
                                           std::ostream& out) {
    return WriteDataToStream_Txt(data.m_pBuffer, data.m_count, out);
}

bool CNetworkHelper::WriteDataToStream_Txt(const unsigned char* data, int length,
                                           std::ostream& out) {
    out << std::endl << std::hex;
    for (int i = 0; data != nullptr && i < length; ++i) {
        out << static_cast<unsigned int>(data[i]) << " ";
        if ((i + 1) % 16 == 0) out << std::endl;
    }
    out << std::endl << std::endl;
    return true;
}

}  // namespace ferrolink::core
