// The packet driver's backend on Linux: adapter names from the capture library, the MAC address,
// link type and speed from interface ioctls and ethtool; error codes are errno values.
#include <ferrolink/platform/PacketDriver.h>

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <ferrolink/platform/PacketDriverBackend.h>
#include <ferrolink/platform/PcapExtensions.h>

namespace ferrolink::platform {

namespace {

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

}  // namespace

namespace detail {

IPacketDriverBackend& SystemPacketDriverBackend() {
    static CLinuxPacketDriverBackend backend;
    return backend;
}

unsigned long SystemErrorCode(EDriverError kind) {
    switch (kind) {
        case EDriverError::InvalidParameter:
            return EINVAL;
        case EDriverError::BadHandle:
            return EBADF;
        case EDriverError::BufferTooSmall:
            return ERANGE;
        case EDriverError::NoSuchAdapter:
            return ENODEV;
        case EDriverError::NoMemory:
            return ENOMEM;
        case EDriverError::NotSupported:
            return EOPNOTSUPP;
    }
    return EINVAL;
}

void SystemLastError_Set(unsigned long code) {
    errno = static_cast<int>(code);
}

}  // namespace detail

}  // namespace ferrolink::platform
