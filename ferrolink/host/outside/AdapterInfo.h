// The PC's adapter table: one record per network interface with its hardware address and whether
// its link is up. Header-only: the library reads the table, the records are the host's.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <ferrolink/api/ferrolink.h>

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
    static bool AllAdpaterInfo_Get(std::vector<SAdapterInfo>& adapters) {
        adapters.clear();
        std::vector<flk_adapter_info> table(16);
        std::int32_t count = 0;
        flk_status status =
            flk_adapter_table_get(table.data(), static_cast<std::int32_t>(table.size()), &count);
        if (status == FLK_BUFFER_TOO_SMALL) {  // adapters came and went: ask once more, with room
            table.resize(static_cast<std::size_t>(count) + 16);
            status = flk_adapter_table_get(table.data(), static_cast<std::int32_t>(table.size()),
                                           &count);
        }
        if (status != FLK_OK) return false;
        for (std::int32_t i = 0; i < count; ++i) {
            SAdapterInfo info;
            std::memcpy(info.address, table[i].address, sizeof info.address);
            info.addressLength = table[i].address_length;
            info.index = table[i].index;
            info.status = table[i].status;
            info.name = table[i].name;
            adapters.push_back(info);
        }
        return true;
    }
    // True when the adapter with hardware address `mac` (6 bytes) is in `adapters` and connected.
    // An empty `mac` matches nothing.
    static bool IsAdapterConnected(const std::vector<unsigned char>& mac,
                                   const std::vector<SAdapterInfo>& adapters) {
        if (mac.size() != 6) return false;
        for (const SAdapterInfo& a : adapters) {
            if (a.addressLength == 6 && std::memcmp(a.address, mac.data(), 6) == 0)
                return a.status == Status_Connected;
        }
        return false;
    }
};
