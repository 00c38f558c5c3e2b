// The adapter table, made from the platform's adapter list.
#include <ferrolink/outside/AdapterInfo.h>

#include <cstring>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/platform/Adapters.h>

namespace ferrolink::core {

bool CAdapterInfo::AllAdpaterInfo_Get(std::vector<SAdapterInfo>& adapters) {
    adapters.clear();
    std::vector<ferrolink::platform::SAdapter> found;
    if (const auto error = ferrolink::platform::CAdapters::List(found)) {
        FLK_LOG(2) << "adapter list failure: " << error.text << " (error " << error.code << ")";
        return false;
    }
    for (const auto& a : found) {
        SAdapterInfo info;
        if (a.hasMac) {
            std::memcpy(info.address, a.mac, sizeof a.mac);
            info.addressLength = sizeof a.mac;
        }
        info.index = a.index;
        info.status = a.linkUp ? Status_Connected : 0;
        info.name = a.name;
        adapters.push_back(std::move(info));
    }
    return true;
}

bool CAdapterInfo::IsAdapterConnected(const std::vector<unsigned char>& mac,
                                      const std::vector<SAdapterInfo>& adapters) {
    if (mac.size() != 6) return false;
    for (const auto& a : adapters) {
        if (a.addressLength == 6 && std::memcmp(a.address, mac.data(), 6) == 0)
            return a.status == Status_Connected;
    }
    return false;
}

}  // namespace ferrolink::core
