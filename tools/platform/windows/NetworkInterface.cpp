#include "platform/NetworkInterface.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <ferrolink/adapter/NpfPacketHelper.h>
#include <ferrolink/outside/AdapterInfo.h>

using ferrolink::core::CAdapterInfo;
using ferrolink::core::CNpfPacketHelper;
using ferrolink::core::SAdapterInfo;

namespace ferrolink::tools {

ELinkState CNetworkInterface::LinkState(const std::string& interfaceName) {
    // The library's own answers: the adapter's MAC from the packet driver, its state from the
    // adapter table (the IP Helper API's operational status).
    std::vector<unsigned char> mac;
    if (interfaceName.empty() || !CNpfPacketHelper::AdapterName_2_MacAddress(interfaceName, mac))
        return ELinkState::Gone;
    std::vector<SAdapterInfo> adapters;
    if (!CAdapterInfo::AllAdpaterInfo_Get(adapters)) return ELinkState::Gone;
    for (const SAdapterInfo& a : adapters)
        if (a.addressLength == 6 && std::equal(mac.begin(), mac.end(), a.address))
            return a.status == CAdapterInfo::Status_Connected ? ELinkState::Up : ELinkState::Down;
    return ELinkState::Gone;
}

std::string CNetworkInterface::SwitchedOff(const std::string&) {
    // A disabled adapter leaves Npcap's device list: it is reported as gone, not as down.
    return "";
}

const char* CNetworkInterface::CaptureRight() {
    return "capturing needs Administrator rights when Npcap was installed for Administrators only";
}

void CNetworkInterface::ReserveSendBuffer(void*, std::size_t) {
    // Npcap sends a band from one send queue that the library sizes for it; there is no socket
    // buffer to grow.
}

}  // namespace ferrolink::tools
