// Linux: the devices of libpcap's list, each asked of the kernel with interface ioctls on a socket
// made by the calling thread, so that the answers concern the caller's network namespace (sysfs
// shows the namespace it was mounted in). Error codes are errno values.
#include <ferrolink/platform/Adapters.h>

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <pcap/pcap.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ferrolink::platform {

namespace {

SSystemError Failure(int code, const std::string& what) {
    return {static_cast<unsigned long>(code), what + ": " + std::strerror(code)};
}

int InterfaceIoctl(int fd, const std::string& name, unsigned long request, ifreq& query) {
    if (name.empty() || name.size() >= sizeof query.ifr_name) return ENODEV;
    std::memcpy(query.ifr_name, name.c_str(), name.size() + 1);
    return ::ioctl(fd, request, &query) == 0 ? 0 : errno;
}

// Ethtool's link settings in Mbit/s: the current form with its size handshake, then the legacy
// form that kernels before 4.6 answer.
int EthtoolSpeed(int fd, const std::string& name, std::uint32_t& mbps) {
    // The settings, followed by three link-mode masks of at most 127 words each.
    std::uint32_t buffer[sizeof(ethtool_link_settings) / sizeof(std::uint32_t) + 3 * 127] = {};
    auto* settings = reinterpret_cast<ethtool_link_settings*>(buffer);
    settings->cmd = ETHTOOL_GLINKSETTINGS;
    ifreq query{};
    query.ifr_data = reinterpret_cast<char*>(buffer);
    int error = InterfaceIoctl(fd, name, SIOCETHTOOL, query);
    if (error == 0 && settings->link_mode_masks_nwords < 0) {
        const std::int8_t words = static_cast<std::int8_t>(-settings->link_mode_masks_nwords);
        std::memset(buffer, 0, sizeof buffer);
        settings->cmd = ETHTOOL_GLINKSETTINGS;
        settings->link_mode_masks_nwords = words;
        error = InterfaceIoctl(fd, name, SIOCETHTOOL, query);
    }
    if (error == 0 && settings->link_mode_masks_nwords > 0) {
        mbps = settings->speed;
        return 0;
    }
    ethtool_cmd legacy{};
    legacy.cmd = ETHTOOL_GSET;
    query.ifr_data = reinterpret_cast<char*>(&legacy);
    error = InterfaceIoctl(fd, name, SIOCETHTOOL, query);
    if (error == 0) mbps = ethtool_cmd_speed(&legacy);
    return error;
}

SSystemError Ask(int fd, const std::string& name, SAdapter& adapter) {
    ifreq query{};
    if (const int error = InterfaceIoctl(fd, name, SIOCGIFINDEX, query))
        return Failure(error, name);
    adapter = SAdapter{};
    adapter.name = name;
    adapter.index = static_cast<std::uint32_t>(query.ifr_ifindex);
    query = ifreq{};
    if (const int error = InterfaceIoctl(fd, name, SIOCGIFHWADDR, query))
        return Failure(error, name);
    adapter.ethernet = query.ifr_hwaddr.sa_family == ARPHRD_ETHER;
    if (adapter.ethernet) {
        std::memcpy(adapter.mac, query.ifr_hwaddr.sa_data, sizeof adapter.mac);
        adapter.hasMac = true;
    }
    query = ifreq{};
    if (const int error = InterfaceIoctl(fd, name, SIOCGIFFLAGS, query))
        return Failure(error, name);
    adapter.linkUp = (query.ifr_flags & IFF_UP) && (query.ifr_flags & IFF_RUNNING);
    // Many adapters (Wi-Fi, USB, most virtual ones) tell no speed, and a down link has none:
    // those stay at 0, which no gigabit search takes.
    std::uint32_t mbps = 0;
    if ((query.ifr_flags & IFF_UP) && EthtoolSpeed(fd, name, mbps) == 0 && mbps != 0 &&
        mbps != 0xFFFFFFFFu)
        adapter.linkSpeed = static_cast<std::uint64_t>(mbps) * 1000000u;
    return {};
}

// A Unix socket answers the interface ioctls without privileges or a network protocol.
class CProbe {
public:
    CProbe() : m_fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~CProbe() {
        if (m_fd >= 0) ::close(m_fd);
    }
    CProbe(const CProbe&) = delete;
    CProbe& operator=(const CProbe&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

SSystemError CAdapters::SystemQuery(const std::string& name, SAdapter& adapter) {
    const CProbe probe;
    if (probe.fd() < 0) return Failure(errno, "socket");
    return Ask(probe.fd(), name, adapter);
}

SSystemError CAdapters::SystemList(std::vector<SAdapter>& adapters) {
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_if_t* devices = nullptr;
    errno = 0;
    if (::pcap_findalldevs(&devices, errbuf) != 0)
        return {static_cast<unsigned long>(errno != 0 ? errno : EIO), errbuf};
    const CProbe probe;
    if (probe.fd() < 0) {
        ::pcap_freealldevs(devices);
        return Failure(errno, "socket");
    }
    // Pseudo devices (any, nflog, usbmon, ...) and devices that sysfs shows from another
    // namespace are no interfaces here: they are left out.
    for (const pcap_if_t* device = devices; device; device = device->next) {
        SAdapter adapter;
        if (!device->name || Ask(probe.fd(), device->name, adapter)) continue;
        if (device->description) adapter.description = device->description;
        adapters.push_back(std::move(adapter));
    }
    ::pcap_freealldevs(devices);
    return {};
}

}  // namespace ferrolink::platform
