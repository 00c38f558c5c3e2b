#include "InterfaceCheck.h"

#include <pcap/pcap.h>

#include <cstdlib>
#include <fstream>

bool CInterfaceCheck::IsAdministrativelyUp(const std::string& interfaceName) {
    if (interfaceName.empty() || interfaceName.find('/') != std::string::npos) return true;
    std::ifstream in("/sys/class/net/" + interfaceName + "/flags");
    std::string flags;
    if (!std::getline(in, flags)) return true;  // no such interface: not "down"
    const unsigned long value = std::strtoul(flags.c_str(), nullptr, 16);
    return (value & 0x1) != 0;  // IFF_UP
}

std::string CInterfaceCheck::OpenFailure(const std::string& interfaceName) {
    if (!IsAdministrativelyUp(interfaceName))
        return "the interface " + interfaceName + " is down: bring it up with `ip link set " +
               interfaceName + " up`";
    // Open it again the plain way, only to learn what the capture library says.
    char errors[PCAP_ERRBUF_SIZE] = "";
    pcap_t* probe = pcap_create(interfaceName.c_str(), errors);
    std::string cause = errors;
    int result = 0;
    if (probe) {
        result = pcap_activate(probe);
        if (result < 0) {
            const std::string text = pcap_geterr(probe);
            cause = text.empty() ? pcap_statustostr(result) : text;
        }
        pcap_close(probe);
    }
    if (cause.empty())
        cause = result > 0 ? pcap_statustostr(result)
                           : "it opens here but not through the library (-v shows its records)";
    std::string message = "cannot open rpcap://" + interfaceName + ": " + cause;
    if (result == PCAP_ERROR_PERM_DENIED) message += " (capturing needs root or CAP_NET_RAW)";
    return message;
}
