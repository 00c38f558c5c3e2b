#include <ferrolink/platform/PacketDriver.h>

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

#include <ferrolink/platform/PacketDriverBackend.h>
#include <ferrolink/platform/PcapExtensions.h>

namespace ferrolink::platform {

namespace {

thread_local unsigned long t_lastError = 0;

bool Fail(int error) {
    t_lastError = static_cast<unsigned long>(error);
    errno = error;
    return false;
}

bool CopyName(const std::string& name, char (&to)[IFNAMSIZ]) {
    if (name.empty() || name.size() >= IFNAMSIZ) return false;
    std::memcpy(to, name.c_str(), name.size() + 1);
    return true;
}

int InterfaceIoctl(int handle, const std::string& name, unsigned long request, ifreq& query) {
    if (!CopyName(name, query.ifr_name)) return ENODEV;
    return ::ioctl(handle, request, &query) == 0 ? 0 : errno;
}

// Ethtool's link settings: the current form first, with its size handshake, then the legacy form
// that kernels before 4.6 answer. The speed comes out in Mbit/s.
int EthtoolSpeed(int handle, const std::string& name, std::uint32_t& mbps) {
    // The settings, followed by three link-mode masks of at most 127 words each.
    std::uint32_t buffer[sizeof(ethtool_link_settings) / sizeof(std::uint32_t) + 3 * 127] = {};
    auto* settings = reinterpret_cast<ethtool_link_settings*>(buffer);
    settings->cmd = ETHTOOL_GLINKSETTINGS;
    ifreq query{};
    query.ifr_data = reinterpret_cast<char*>(buffer);
    int error = InterfaceIoctl(handle, name, SIOCETHTOOL, query);
    if (error == 0 && settings->link_mode_masks_nwords < 0) {
        const std::int8_t words = static_cast<std::int8_t>(-settings->link_mode_masks_nwords);
        std::memset(buffer, 0, sizeof buffer);
        settings->cmd = ETHTOOL_GLINKSETTINGS;
        settings->link_mode_masks_nwords = words;
        error = InterfaceIoctl(handle, name, SIOCETHTOOL, query);
    }
    if (error == 0 && settings->link_mode_masks_nwords > 0) {
        mbps = settings->speed;
        return 0;
    }
    if (error != 0 && error != EOPNOTSUPP && error != EINVAL) return error;
    ethtool_cmd legacy{};
    legacy.cmd = ETHTOOL_GSET;
    query.ifr_data = reinterpret_cast<char*>(&legacy);
    error = InterfaceIoctl(handle, name, SIOCETHTOOL, query);
    if (error == 0) mbps = ethtool_cmd_speed(&legacy);
    return error;
}

// The interface ioctls on a socket of the opening thread. The speed is not read from
// /sys/class/net/IF/speed: sysfs shows the devices of the namespace it was mounted in, not the
// caller's. The kernel serves that file from the same ethtool call, only for a running
// interface, so the answers agree wherever sysfs sees the device.
class CLinuxPacketDriverBackend : public IPacketDriverBackend {
public:
    int Adapters_List(std::vector<SPacketAdapterEntry>& adapters) override {
        adapters.clear();
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        pcap_if_t* list = nullptr;
        errno = 0;
        if (ferrolink::platform::pcap_findalldevs_ex(PCAP_SRC_IF_PREFIX, nullptr, &list, errbuf) !=
            0)
            return errno != 0 ? errno : EIO;
        const std::size_t prefixLength = std::strlen(PCAP_SRC_IF_PREFIX);
        for (const pcap_if_t* device = list; device; device = device->next) {
            if (!device->name || std::strlen(device->name) <= prefixLength) continue;
            adapters.push_back(
                {device->name + prefixLength, device->description ? device->description : ""});
        }
        ferrolink::platform::pcap_freealldevs(list);
        return 0;
    }

    int Adapter_Open(const std::string& name, int& handle) override {
        // A Unix socket answers the interface ioctls without privileges or a network protocol.
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return errno;
        ifreq query{};
        const int error = InterfaceIoctl(fd, name, SIOCGIFINDEX, query);
        if (error != 0) {
            ::close(fd);
            return error;
        }
        handle = fd;
        return 0;
    }

    void Adapter_Close(int handle) override { ::close(handle); }

    int CurrentAddress_Get(int handle, const std::string& name,
                           unsigned char (&address)[6]) override {
        ifreq query{};
        const int error = InterfaceIoctl(handle, name, SIOCGIFHWADDR, query);
        if (error != 0) return error;
        if (query.ifr_hwaddr.sa_family != ARPHRD_ETHER) return EAFNOSUPPORT;
        std::memcpy(address, query.ifr_hwaddr.sa_data, sizeof address);
        return 0;
    }

    // The Windows driver answers for every adapter it lists; many Linux ones (Wi-Fi, USB, most
    // virtual NICs) have no speed in ethtool, and a down link has none either. Those report 0 b/s,
    // which no gigabit search takes; only an adapter that cannot be asked at all fails.
    int NetType_Get(int handle, const std::string& name, NetType& type) override {
        ifreq query{};
        int error = InterfaceIoctl(handle, name, SIOCGIFHWADDR, query);
        if (error != 0) return error;
        const bool ethernet = query.ifr_hwaddr.sa_family == ARPHRD_ETHER;
        query = ifreq{};
        error = InterfaceIoctl(handle, name, SIOCGIFFLAGS, query);
        if (error != 0) return error;
        std::uint32_t mbps = 0;
        if (query.ifr_flags & IFF_UP) {
            error = EthtoolSpeed(handle, name, mbps);
            if (error != 0 && error != EOPNOTSUPP && error != EINVAL && error != ENODATA)
                return error;
        }
        std::uint64_t bitsPerSecond = 0;
        if (error != 0 || !LinkSpeed_FromMbps(mbps, bitsPerSecond)) bitsPerSecond = 0;
        type.LinkType = ethernet ? NdisMedium802_3 : NdisMediumNull;
        type.LinkSpeed = bitsPerSecond;
        return 0;
    }
};

CLinuxPacketDriverBackend g_linuxBackend;

IPacketDriverBackend& Backend() {
    IPacketDriverBackend* backend = detail::g_packetDriverBackend.load(std::memory_order_acquire);
    return backend ? *backend : g_linuxBackend;
}

// What the caller holds is the ADAPTER part; the backend stays with the adapter so that a test
// replacing the backend cannot send a descriptor to the wrong one.
struct SAdapterObject : ADAPTER {
    IPacketDriverBackend* backend;
};

SAdapterObject* Object(ADAPTER* adapter) {
    return static_cast<SAdapterObject*>(adapter);
}

bool Usable(ADAPTER* adapter) {
    if (!adapter) return Fail(EINVAL);
    if (adapter->hFile == INVALID_HANDLE_VALUE) return Fail(EBADF);
    return true;
}

}  // namespace

namespace detail {
std::atomic<IPacketDriverBackend*> g_packetDriverBackend{nullptr};
}

bool LinkSpeed_FromMbps(std::uint32_t mbps, std::uint64_t& bitsPerSecond) {
    if (mbps == 0 || mbps == static_cast<std::uint32_t>(SPEED_UNKNOWN)) return false;
    bitsPerSecond = static_cast<std::uint64_t>(mbps) * 1000000u;
    return true;
}

bool PacketGetAdapterNames(char* buffer, unsigned long* size) {
    if (!size) return Fail(EINVAL);
    std::vector<SPacketAdapterEntry> adapters;
    const int error = Backend().Adapters_List(adapters);
    if (error != 0) return Fail(error);
    // A name with an inner zero, or an empty one, would cut the block in the wrong place.
    std::string block;
    for (const auto& a : adapters)
        if (!a.name.empty() && a.name.find('\0') == std::string::npos)
            block.append(a.name).push_back('\0');
    block.push_back('\0');
    for (const auto& a : adapters)
        if (!a.name.empty() && a.name.find('\0') == std::string::npos)
            block.append(a.description.c_str()).push_back('\0');
    block.push_back('\0');
    if (!buffer || *size < block.size()) {
        *size = static_cast<unsigned long>(block.size());
        return Fail(ERANGE);
    }
    std::memcpy(buffer, block.data(), block.size());
    *size = static_cast<unsigned long>(block.size());
    return true;
}

ADAPTER* PacketOpenAdapter(const char* name) {
    if (!name || !*name) {
        Fail(EINVAL);
        return nullptr;
    }
    const std::size_t length = std::strlen(name);
    if (length >= ADAPTER_NAME_LENGTH) {
        Fail(ENODEV);
        return nullptr;
    }
    IPacketDriverBackend& backend = Backend();
    int handle = INVALID_HANDLE_VALUE;
    const int error = backend.Adapter_Open(name, handle);
    if (error != 0) {
        Fail(error);
        return nullptr;
    }
    auto* adapter = new (std::nothrow) SAdapterObject{};
    if (!adapter) {
        backend.Adapter_Close(handle);
        Fail(ENOMEM);
        return nullptr;
    }
    adapter->hFile = handle;
    std::memcpy(adapter->Name, name, length + 1);
    adapter->backend = &backend;
    return adapter;
}

void PacketCloseAdapter(ADAPTER* adapter) {
    if (!adapter) return;
    SAdapterObject* object = Object(adapter);
    if (object->hFile != INVALID_HANDLE_VALUE) object->backend->Adapter_Close(object->hFile);
    delete object;
}

bool PacketRequest(ADAPTER* adapter, bool set, PACKET_OID_DATA* data) {
    if (!Usable(adapter)) return false;
    if (!data) return Fail(EINVAL);
    if (set || data->Oid != OID_802_3_CURRENT_ADDRESS) return Fail(EOPNOTSUPP);
    unsigned char address[6];
    if (data->Length < sizeof address) return Fail(ERANGE);
    const int error =
        Object(adapter)->backend->CurrentAddress_Get(adapter->hFile, adapter->Name, address);
    if (error != 0) return Fail(error);
    unsigned char* bytes = data->Data;
    std::memcpy(bytes, address, sizeof address);
    data->Length = sizeof address;
    return true;
}

bool PacketGetNetType(ADAPTER* adapter, NetType* type) {
    if (!Usable(adapter)) return false;
    if (!type) return Fail(EINVAL);
    NetType answer{};
    const int error = Object(adapter)->backend->NetType_Get(adapter->hFile, adapter->Name, answer);
    if (error != 0) return Fail(error);
    *type = answer;
    return true;
}

unsigned long GetLastError() {
    return t_lastError;
}

}  // namespace ferrolink::platform
