#include <ferrolink/outside/AdapterInfo.h>

#include <cstring>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/platform/windows/IpHelperAdapters.h>

namespace ferrolink::core {

bool CAdapterInfo::AllAdpaterInfo_Get(std::vector<SAdapterInfo>& adapters) {
    adapters.clear();
    std::vector<ferrolink::platform::SIpHelperAdapter> found;
    if (const unsigned long error = ferrolink::platform::CIpHelperAdapters::List(found)) {
        FLK_LOG(2) << "GetAdaptersAddresses failure: error = " << error;
        return false;
    }
    for (const auto& a : found) {
        SAdapterInfo info;
        info.addressLength = a.addressLength;
        std::memcpy(info.address, a.address, sizeof info.address);
        info.index = a.index;
        info.status = a.up ? Status_Connected : 0;
        info.name = a.guid;
        adapters.push_back(std::move(info));
    }
    return true;
}

}  // namespace ferrolink::core
