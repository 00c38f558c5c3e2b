// What the adapter table means, the same on every system; the table itself comes from each
// system's own listing (linux/, windows/).
#include <ferrolink/outside/AdapterInfo.h>

#include <cstring>

namespace ferrolink::core {

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
