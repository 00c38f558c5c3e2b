// The PC's adapter table: one record per network interface with its hardware address and whether
// its link is up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <ferrolink/FerrolinkExport.h>

namespace ferrolink::core {

struct SAdapterInfo {
    unsigned char address[8] = {};  // hardware address, 6 bytes used for Ethernet
    std::uint32_t addressLength = 0;
    std::uint32_t index = 0;   // interface index
    std::uint32_t status = 0;  // 1: connected (link up and running)
    std::string name;          // interface name
};

class CAdapterInfo {
public:
    static constexpr std::uint32_t Status_Connected = 1;

    // Fills `adapters` (cleared first) from the system's interfaces; false when they cannot be
    // read.
    static bool AllAdpaterInfo_Get(std::vector<SAdapterInfo>& adapters);
    // True when the adapter with hardware address `mac` (6 bytes) is in `adapters` and connected.
    // An empty `mac` matches nothing.
    static bool IsAdapterConnected(const std::vector<unsigned char>& mac,
                                   const std::vector<SAdapterInfo>& adapters);
};

}  // namespace ferrolink::core
