#include <ferrolink/outside/AdapterInfo.h>

#include <ifaddrs.h>
#include <net/if.h>
#include <netpacket/packet.h>

#include <cerrno>
#include <cstring>

#include <ferrolink/outside/CustomBoostLog.h>

namespace ferrolink::core {

bool CAdapterInfo::AllAdpaterInfo_Get(std::vector<SAdapterInfo>& adapters) {
    adapters.clear();
    struct ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        FLK_LOG(2) << "getifaddrs failure: errno = " << errno;
        return false;
    }
    for (struct ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_PACKET) continue;
        const auto* ll = reinterpret_cast<const struct sockaddr_ll*>(it->ifa_addr);
        SAdapterInfo info;
        info.addressLength = ll->sll_halen <= sizeof info.address ? ll->sll_halen : 0;
        std::memcpy(info.address, ll->sll_addr, info.addressLength);
        info.index = static_cast<std::uint32_t>(ll->sll_ifindex);
        const bool connected = (it->ifa_flags & IFF_UP) && (it->ifa_flags & IFF_RUNNING);
        info.status = connected ? Status_Connected : 0;
        info.name = it->ifa_name ? it->ifa_name : "";
        adapters.push_back(std::move(info));
    }
    ::freeifaddrs(list);
    return true;
}

}  // namespace ferrolink::core
