#include <ferrolink/platform/PcapExtensions.h>

#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <ferrolink/platform/linux/PcapHandleRegistry.h>

namespace ferrolink::platform {

namespace {
constexpr int LiveCaptureBufferBytes = 4 << 20;
}  // namespace

namespace {

void SetError(char* errbuf, const char* format, ...) __attribute__((format(printf, 2, 3)));

void SetError(char* errbuf, const char* format, ...) {
    if (!errbuf) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(errbuf, PCAP_ERRBUF_SIZE, format, args);
    va_end(args);
}

const char* AfterPrefix(const char* text, const char* prefix) {
    const std::size_t length = std::strlen(prefix);
    return std::strncmp(text, prefix, length) == 0 ? text + length : nullptr;
}

pcap_t* OpenLive(const std::string& device, int snaplen, int flags, int readTimeout, char* errbuf) {
    char error[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = ::pcap_create(device.c_str(), error);
    if (!handle) {
        SetError(errbuf, "%s", error);
        return nullptr;
    }
    ::pcap_set_snaplen(handle, snaplen);
    ::pcap_set_promisc(handle, (flags & PCAP_OPENFLAG_PROMISCUOUS) ? 1 : 0);
    ::pcap_set_timeout(handle, readTimeout > 0 ? readTimeout : 0);
    // Replies are single small frames: they must reach the reader at once instead of waiting for
    // a ring block to fill or its timer. Our reads bound the wait themselves.
    ::pcap_set_immediate_mode(handle, 1);
    // Replies and reports are small and few: 4 MiB holds about 2,000 full frames (24 ms of a
    // gigabit link seen whole) while the receive thread is busy in the host's callback. The ring
    // is allocated, zeroed and mapped at every open and counts in the host's resident memory:
    // 32 MiB cost 20-60 ms of start-up and 44 MB.
    ::pcap_set_buffer_size(handle, LiveCaptureBufferBytes);
    const int status = ::pcap_activate(handle);
    if (status < 0) {
        const char* detail = ::pcap_geterr(handle);
        if (status == PCAP_ERROR || !detail || !*detail)
            SetError(errbuf, "%s: %s", device.c_str(),
                     (detail && *detail) ? detail : ::pcap_statustostr(status));
        else
            SetError(errbuf, "%s: %s (%s)", device.c_str(), ::pcap_statustostr(status), detail);
        ::pcap_close(handle);
        return nullptr;
    }
    // Warnings (promiscuous mode not supported, ...) leave a usable handle.
    CPcapHandleRegistry::Register(handle, readTimeout);
    return handle;
}

// Each field in its own malloc block, the way libpcap lays out its lists, so that even a list
// handed by mistake to libpcap's pcap_freealldevs is released cleanly.
char* CopyText(const char* prefix, const char* text) {
    if (!text) return nullptr;
    const std::size_t prefixLength = std::strlen(prefix);
    const std::size_t length = std::strlen(text);
    auto* copy = static_cast<char*>(std::malloc(prefixLength + length + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, prefix, prefixLength);
    std::memcpy(copy + prefixLength, text, length + 1);
    return copy;
}

// libpcap sizes each address by its family; the same sizes keep the copy inside its block.
std::size_t AddressSize(const sockaddr* address) {
    switch (address->sa_family) {
        case AF_INET:
            return sizeof(sockaddr_in);
        case AF_INET6:
            return sizeof(sockaddr_in6);
        case AF_PACKET:
            return sizeof(sockaddr_ll);
        default:
            return sizeof(sockaddr);
    }
}

bool CopyAddress(const sockaddr* from, sockaddr** to) {
    *to = nullptr;
    if (!from) return true;
    const std::size_t size = AddressSize(from);
    *to = static_cast<sockaddr*>(std::malloc(size));
    if (!*to) return false;
    std::memcpy(*to, from, size);
    return true;
}

void FreeDevice(pcap_if_t* device) {
    for (pcap_addr_t* address = device->addresses; address;) {
        pcap_addr_t* next = address->next;
        std::free(address->addr);
        std::free(address->netmask);
        std::free(address->broadaddr);
        std::free(address->dstaddr);
        std::free(address);
        address = next;
    }
    std::free(device->name);
    std::free(device->description);
    std::free(device);
}

pcap_if_t* CopyDevice(const pcap_if_t& source) {
    auto* device = static_cast<pcap_if_t*>(std::calloc(1, sizeof(pcap_if_t)));
    if (!device) return nullptr;
    device->flags = source.flags;
    device->name = CopyText(PCAP_SRC_IF_PREFIX, source.name);
    bool ok = device->name != nullptr;
    if (ok && source.description) {
        device->description = CopyText("", source.description);
        ok = device->description != nullptr;
    }
    pcap_addr_t** tail = &device->addresses;
    for (const pcap_addr_t* from = source.addresses; ok && from; from = from->next) {
        auto* address = static_cast<pcap_addr_t*>(std::calloc(1, sizeof(pcap_addr_t)));
        if (!address) {
            ok = false;
            break;
        }
        *tail = address;
        tail = &address->next;
        ok = CopyAddress(from->addr, &address->addr) &&
             CopyAddress(from->netmask, &address->netmask) &&
             CopyAddress(from->broadaddr, &address->broadaddr) &&
             CopyAddress(from->dstaddr, &address->dstaddr);
    }
    if (!ok) {
        FreeDevice(device);
        return nullptr;
    }
    return device;
}

// Asked through a socket made on the calling thread, so the answer is about the device of the
// caller's network namespace; sysfs would describe the namespace /sys was mounted in.
bool IsEthernetDevice(int probe, const char* name) {
    ifreq request{};
    const std::size_t length = std::strlen(name);
    if (length >= sizeof(request.ifr_name)) return false;
    std::memcpy(request.ifr_name, name, length + 1);
    if (::ioctl(probe, SIOCGIFHWADDR, &request) != 0) return false;
    return request.ifr_hwaddr.sa_family == ARPHRD_ETHER;
}

}  // namespace

pcap_t* pcap_open(const char* source, int snaplen, int flags, int read_timeout,
                  struct pcap_rmtauth* /*auth: local sources need none*/, char* errbuf) {
    if (!source) {
        SetError(errbuf, "no capture source given");
        return nullptr;
    }
    if (const char* path = AfterPrefix(source, PCAP_SRC_FILE_PREFIX)) {
        if (!*path) {
            SetError(errbuf, "no file name in the source \"%s\"", source);
            return nullptr;
        }
        char error[PCAP_ERRBUF_SIZE] = "";
        pcap_t* handle = ::pcap_open_offline(path, error);
        if (!handle) SetError(errbuf, "%s", error);
        return handle;
    }
    const char* device = AfterPrefix(source, PCAP_SRC_IF_PREFIX);
    if (!device) {
        if (std::strstr(source, "://")) {
            SetError(errbuf, "unsupported capture source \"%s\"", source);
            return nullptr;
        }
        device = source;  // a bare device name, as the Windows library also takes it
    }
    if (!*device) {
        SetError(errbuf, "no device name in the source \"%s\"", source);
        return nullptr;
    }
    // Device names never hold a slash; "rpcap://host[:port]/device" is the remote form.
    if (std::strchr(device, '/')) {
        SetError(errbuf, "remote capture is not supported: \"%s\"", source);
        return nullptr;
    }
    return OpenLive(device, snaplen, flags, read_timeout, errbuf);
}

int pcap_createsrcstr(char* source, int type, const char* /*host*/, const char* /*port*/,
                      const char* name, char* errbuf) {
    if (!source) {
        SetError(errbuf, "no buffer for the source string");
        return -1;
    }
    const char* prefix = nullptr;
    switch (type) {
        case PCAP_SRC_FILE:
            if (!name || !*name) {
                SetError(errbuf, "a file source needs a file name");
                return -1;
            }
            prefix = PCAP_SRC_FILE_PREFIX;
            break;
        case PCAP_SRC_IFLOCAL:
            prefix = PCAP_SRC_IF_PREFIX;
            break;
        default:
            SetError(errbuf, "source type %d is not supported (only local files and devices)",
                     type);
            return -1;
    }
    if (!name) name = "";
    const std::size_t length = std::strlen(prefix) + std::strlen(name);
    if (length >= static_cast<std::size_t>(PCAP_BUF_SIZE)) {
        SetError(errbuf, "source string of %zu characters does not fit in %d", length,
                 PCAP_BUF_SIZE);
        return -1;
    }
    std::snprintf(source, PCAP_BUF_SIZE, "%s%s", prefix, name);
    return 0;
}

int pcap_findalldevs_ex(const char* source, struct pcap_rmtauth* /*auth*/, pcap_if_t** alldevs,
                        char* errbuf) {
    if (!alldevs) {
        SetError(errbuf, "no place for the device list");
        return -1;
    }
    *alldevs = nullptr;
    if (!source || std::strcmp(source, PCAP_SRC_IF_PREFIX) != 0) {
        SetError(errbuf, "only the local source \"%s\" can be listed", PCAP_SRC_IF_PREFIX);
        return -1;
    }
    char error[PCAP_ERRBUF_SIZE] = "";
    pcap_if_t* found = nullptr;
    if (::pcap_findalldevs(&found, error) != 0) {
        SetError(errbuf, "%s", error);
        return -1;
    }
    // Any socket answers device ioctls; a Unix one needs no privilege and no network protocol.
    const int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        SetError(errbuf, "socket: %s", std::strerror(errno));
        ::pcap_freealldevs(found);
        return -1;
    }
    pcap_if_t* head = nullptr;
    pcap_if_t** tail = &head;
    bool ok = true;
    for (const pcap_if_t* device = found; device; device = device->next) {
        if (!device->name || !IsEthernetDevice(probe, device->name)) continue;
        pcap_if_t* copy = CopyDevice(*device);
        if (!copy) {
            ok = false;
            break;
        }
        *tail = copy;
        tail = &copy->next;
    }
    ::close(probe);
    ::pcap_freealldevs(found);
    if (!ok) {
        ferrolink::platform::pcap_freealldevs(head);
        SetError(errbuf, "out of memory while copying the device list");
        return -1;
    }
    *alldevs = head;
    return 0;
}

void pcap_freealldevs(pcap_if_t* alldevs) {
    while (alldevs) {
        pcap_if_t* next = alldevs->next;
        FreeDevice(alldevs);
        alldevs = next;
    }
}

}  // namespace ferrolink::platform
