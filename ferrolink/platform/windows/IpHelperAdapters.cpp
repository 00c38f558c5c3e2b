#include <ferrolink/platform/windows/IpHelperAdapters.h>

// In this order: iphlpapi.h needs winsock2.h, which must come before windows.h.
#include <winsock2.h>
// (kept apart so that include sorting leaves the order alone)
#include <iphlpapi.h>

#include <cstring>
#include <memory>

namespace ferrolink::platform {

namespace {

std::string Narrow(const wchar_t* text) {
    if (!text || !*text) return {};
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(size - 1));
    return out;
}

}  // namespace

unsigned long CIpHelperAdapters::List(std::vector<SIpHelperAdapter>& adapters) {
    adapters.clear();
    const ULONG flags = GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                        GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    std::unique_ptr<unsigned char[]> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The list can grow between the sizing call and the next one: a few rounds, then give up.
    for (int round = 0; round < 4 && result == ERROR_BUFFER_OVERFLOW; ++round) {
        buffer.reset(new unsigned char[size]);
        result =
            ::GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                   reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
    if (result == ERROR_NO_DATA) return 0;
    if (result != NO_ERROR) return result;
    for (const auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.get()); a;
         a = a->Next) {
        SIpHelperAdapter entry;
        entry.guid = a->AdapterName ? a->AdapterName : "";
        entry.description = Narrow(a->Description);
        entry.index = a->IfIndex;
        entry.addressLength =
            a->PhysicalAddressLength <= sizeof entry.address ? a->PhysicalAddressLength : 0;
        std::memcpy(entry.address, a->PhysicalAddress, entry.addressLength);
        entry.ethernet = a->IfType == IF_TYPE_ETHERNET_CSMACD;
        entry.up = a->OperStatus == IfOperStatusUp;
        // All bits set is how the API says "not known".
        entry.speed = a->ReceiveLinkSpeed == ~0ULL ? 0 : a->ReceiveLinkSpeed;
        adapters.push_back(std::move(entry));
    }
    return 0;
}

}  // namespace ferrolink::platform
