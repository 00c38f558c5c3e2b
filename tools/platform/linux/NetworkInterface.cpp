#include "platform/NetworkInterface.h"

#include <pcap/pcap.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace ferrolink::tools {

namespace {

std::string ReadFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

ELinkState CNetworkInterface::LinkState(const std::string& interfaceName) {
    const std::string folder = "/sys/class/net/" + interfaceName;
    std::error_code code;
    if (interfaceName.empty() || !std::filesystem::exists(folder, code)) return ELinkState::Gone;
    const std::string state = ReadFirstLine(folder + "/operstate");
    if (state == "up") return ELinkState::Up;
    // Some drivers never say "up"; their carrier does.
    if (state == "unknown" && ReadFirstLine(folder + "/carrier") == "1") return ELinkState::Up;
    return ELinkState::Down;
}

std::string CNetworkInterface::SwitchedOff(const std::string& interfaceName) {
    if (interfaceName.empty() || interfaceName.find('/') != std::string::npos) return "";
    const std::string flags = ReadFirstLine("/sys/class/net/" + interfaceName + "/flags");
    if (flags.empty()) return "";  // no such interface: not "down"
    if ((std::strtoul(flags.c_str(), nullptr, 16) & 0x1) != 0) return "";  // IFF_UP
    return "the interface " + interfaceName + " is down: bring it up with `ip link set " +
           interfaceName + " up`";
}

const char* CNetworkInterface::CaptureRight() {
    return "capturing needs root or CAP_NET_RAW";
}

void CNetworkInterface::ReserveSendBuffer(void* captureHandle, std::size_t bytes) {
    auto* handle = static_cast<pcap_t*>(captureHandle);
    const int fd = handle ? pcap_get_selectable_fd(handle) : -1;
    if (fd < 0) return;
    int current = 0;
    socklen_t length = sizeof current;
    // The kernel reports twice what was asked (its bookkeeping); a larger one stays.
    if (::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &current, &length) == 0 &&
        static_cast<std::size_t>(current) / 2 >= bytes)
        return;
    const int wanted = static_cast<int>(std::min<std::size_t>(bytes, std::size_t{64} << 20));
    // Beyond the system's limit needs CAP_NET_ADMIN; without it the limit is what we get.
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &wanted, sizeof wanted) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &wanted, sizeof wanted);
}

}  // namespace ferrolink::tools
