// The PC's adapters as the IP Helper API reports them (GetAdaptersAddresses): what the packet
// driver's queries and the adapter table read on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ferrolink::platform {

struct SIpHelperAdapter {
    std::string guid;         // "{GUID}", as Npcap's device name carries it
    std::string description;  // in the system's ANSI code page
    std::uint32_t index = 0;  // interface index
    unsigned char address[8] = {};
    std::uint32_t addressLength = 0;
    bool ethernet = false;    // IF_TYPE_ETHERNET_CSMACD
    bool up = false;          // operational status up
    std::uint64_t speed = 0;  // receive link speed in bits per second; 0 when unknown
};

class CIpHelperAdapters {
public:
    // 0 on success, else the Windows error code of GetAdaptersAddresses.
    static unsigned long List(std::vector<SIpHelperAdapter>& adapters);
};

}  // namespace ferrolink::platform
